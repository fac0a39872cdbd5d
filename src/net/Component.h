// The component base of the network library: ownership, life state and the application's
// handler for exceptions that escape a message handler.
//
// A `TComponent` may have an owner; the owner destroys the components it still owns when it
// is destroyed itself, and a component destroyed earlier leaves its owner's list. While its
// destructor runs a component reports `Destroying()`, so code that fires events can stay quiet
// then; `Designing()` is always false here (there is no form designer). Ownership lists are
// guarded by a lock because the server component creates instances on its own threads.
// `HandleException` is where exceptions escaping a window procedure go (the application's
// exception handler); by default it writes one line to standard error, and a host (the tray
// program, a test) may install its own. Nothing here knows about sockets or windows.
#pragma once

#include <exception>
#include <functional>
#include <string>
#include <vector>

namespace kairelon {

class TComponent {
public:
    explicit TComponent(TComponent* AOwner = nullptr);
    virtual ~TComponent();
    TComponent(const TComponent&) = delete;
    TComponent& operator=(const TComponent&) = delete;

    TComponent* Owner() const { return owner_; }
    bool Designing() const { return false; }
    bool Destroying() const { return destroying_; }

    // Called after a component has been set up by its host, as a form does after reading
    // itself; the base does nothing.
    virtual void Loaded() {}

    std::string Name;

protected:
    // Derived destructors call this first, so that nothing they run while tearing down fires
    // events (the framework marks a component before any destructor body runs).
    void MarkDestroying() { destroying_ = true; }

private:
    void Insert(TComponent* component);
    void Remove(TComponent* component);

    TComponent* owner_ = nullptr;
    std::vector<TComponent*> owned_;
    bool destroying_ = false;
};

using TObject = TComponent;
using TNotifyEvent = std::function<void(TObject* Sender)>;

// The application's exception handler: called with the component whose handler raised.
using TExceptionHandler = std::function<void(TObject* Sender, const std::exception& error)>;
void HandleException(TObject* Sender, const std::exception& error);
// Installs a handler (an empty one restores the default, a line on standard error); returns
// the previous one.
TExceptionHandler SetExceptionHandler(TExceptionHandler handler);

} // namespace kairelon
