// Named events shared between processes.
//
// The program and the clock-setting service meet through two named events, "KairelSyncBegin"
// (program to service) and "KairelSyncDone" (service to program). A `TNamedEvent` is one
// handle on such an event: the program opens an existing event without creating it, the
// service creates both and removes them when it stops. An event is set, reset, and waited for
// with a time-out measured on the monotonic clock, so a clock step during the wait neither
// stretches nor shortens it. A waiter that is woken consumes the signal (the event returns to
// the non-signalled state by itself).
//
// A handle whose open failed stays usable in the sense of the system's handle calls: it keeps
// the error number of the failure, setting and resetting it has no effect, and a wait on it
// fails at once. So a caller can run its fixed sequence of steps whether or not the opens
// succeeded.
//
// The environment variable KAIRELON_EVENT_PREFIX puts a prefix before every event name; tests
// use it so that they never meet each other or an installed service.
//
// While the service is stopped any local user could create events under its names and
// answer a hand-over nobody carried out. `OpenTrusted` therefore opens an event only when it
// belongs to one of the trusted owners (root, or the user "kairelon" the service may run as)
// and to the group "kairelon", and others may not write it; anything else counts as missing
// (EPERM). Tests, which run as any user, put their own user in `SetEventTrust`.
//
// Members of the service's group may write the events' files. Nothing they write into one,
// nor cutting it short, makes a call here crash, block beyond its time-out or act on flags
// taken from the file; such an event reports itself no longer `Healthy`, and so does one whose
// name was removed or now stands for another file. The service makes its events anew then,
// and a program gives up on a hand-over through them at once.
#pragma once

#include <cerrno>
#include <optional>
#include <string>
#include <vector>

namespace kairelon {

inline constexpr const char* SyncBeginEventName = "KairelSyncBegin";
inline constexpr const char* SyncDoneEventName = "KairelSyncDone";
// Set by the service, before the done event, when it acted on a hand-over by refusing it.
inline constexpr const char* SyncRefusedEventName = "KairelSyncRefused";

// Whose events the program accepts.
struct TEventTrust {
    std::vector<long> owners; // user ids that may own the event
    // Group id the event must belong to; -1 where the group does not exist: the event must
    // then not be writable by its group either.
    long group = -1;
};

// Root and the user "kairelon" (where it exists); the group "kairelon" (or -1).
TEventTrust SystemEventTrust();
// What OpenTrusted accepts from now on, for the whole process; nullopt: SystemEventTrust().
// Returns the setting it replaced.
std::optional<TEventTrust> SetEventTrust(std::optional<TEventTrust> trust);
TEventTrust CurrentEventTrust();

enum class TWaitResult {
    Signalled, // the event was set; the wait consumed the signal
    TimedOut,  // the time-out passed without a signal
    Failed,    // the handle is not open, or the system refused the wait
};

class TNamedEvent {
public:
    TNamedEvent() = default; // a handle that is not open (error number EBADF)
    ~TNamedEvent();          // closes the handle; the event itself stays
    TNamedEvent(TNamedEvent&& other) noexcept;
    TNamedEvent& operator=(TNamedEvent&& other) noexcept;
    TNamedEvent(const TNamedEvent&) = delete;
    TNamedEvent& operator=(const TNamedEvent&) = delete;

    // Opens an event that exists, never creating it. When it does not exist or may not be
    // opened, the handle is not open and Error() tells why (ENOENT, EACCES, EINVAL, ...).
    static TNamedEvent Open(const std::string& name);
    // Opens an event that exists and is trusted (CurrentEventTrust): owner, group and mode are
    // checked before and after the open, so an event swapped in between is not taken either.
    // An event that is not trusted is not opened: Error() gives EPERM.
    static TNamedEvent OpenTrusted(const std::string& name);

    // Creates a new event in the non-signalled state, replacing one left behind by an earlier
    // run (and with it any signal it still held). `groupId` < 0: only the owner may open it
    // (mode 0600); otherwise the event belongs to that group and its members may open it
    // (mode 0660).
    static TNamedEvent Create(const std::string& name, long groupId);

    // Removes the event's name; handles that are open stay valid. False with errno when the
    // event did not exist or may not be removed.
    static bool Remove(const std::string& name);
    // Removes the event's name only while it still names the event this handle created: a
    // name that another process has since created anew stays. False when nothing was removed.
    bool RemoveCreated(const std::string& name);

    bool IsOpen() const { return handle_ != nullptr; }
    int Error() const { return error_; } // errno of the failed open or of the last failed call

    bool Set();   // signals the event (a second Set while it is signalled changes nothing)
    bool Reset(); // clears a pending signal
    // Waits at most timeoutMs milliseconds (0: only looks; negative counts as 0). Failed (with
    // EIO) once the event's file has been cut short under it.
    TWaitResult Wait(int timeoutMs);
    void Close();

    // False when this handle's event can no longer carry a signal between processes: not
    // open, its file cut short or removed, another file now under its name, or content no
    // event of ours holds. Error() then says which (EBADF, EIO, ENOENT, EEXIST, EINVAL).
    bool Healthy();

private:
    void* handle_ = nullptr; // the event's word in the mapped file; null when not open
    int fd_ = -1;            // the event's file, kept open to see what happens to it
    int guard_ = -1;         // the slot of the fault guard that watches the mapping
    std::string path_;       // the file's path
    int error_ = EBADF;      // until opened
    // The file of the event Create made (device and inode); 0 when this handle made none.
    unsigned long long createdDevice_ = 0, createdInode_ = 0;
};

// The system-wide object name of an event: "/" + KAIRELON_EVENT_PREFIX + name.
std::string EventObjectName(const std::string& name);

// The lock file that the service holds while it owns the events, so that a second service
// refuses to start instead of replacing them: "kairelon-clockd.lock" under the events' prefix,
// in $KAIRELON_RUNTIME_DIR (tests) or /run/kairelon, a folder where only root creates files,
// so that nobody else can plant anything at its name to keep the service from starting.
std::string ServiceLockPath();

} // namespace kairelon
