#include "net/Component.h"

#include <algorithm>
#include <cstdio>
#include <mutex>

namespace kairelon {
namespace {

std::mutex& OwnershipLock() {
    static std::mutex lock;
    return lock;
}

std::mutex& HandlerLock() {
    static std::mutex lock;
    return lock;
}

TExceptionHandler& CurrentHandler() {
    static TExceptionHandler handler;
    return handler;
}

} // namespace

TComponent::TComponent(TComponent* AOwner) : owner_(AOwner) {
    if (owner_ != nullptr) {
        owner_->Insert(this);
    }
}

TComponent::~TComponent() {
    destroying_ = true;
    // Free what is still owned, newest first; each one leaves the list as it goes.
    for (;;) {
        TComponent* last = nullptr;
        {
            std::lock_guard<std::mutex> guard(OwnershipLock());
            if (owned_.empty()) {
                break;
            }
            last = owned_.back();
        }
        delete last;
    }
    if (owner_ != nullptr) {
        owner_->Remove(this);
    }
}

void TComponent::Insert(TComponent* component) {
    std::lock_guard<std::mutex> guard(OwnershipLock());
    owned_.push_back(component);
}

void TComponent::Remove(TComponent* component) {
    std::lock_guard<std::mutex> guard(OwnershipLock());
    owned_.erase(std::remove(owned_.begin(), owned_.end(), component), owned_.end());
}

void HandleException(TObject* Sender, const std::exception& error) {
    TExceptionHandler handler;
    {
        std::lock_guard<std::mutex> guard(HandlerLock());
        handler = CurrentHandler();
    }
    if (handler) {
        handler(Sender, error);
        return;
    }
    const std::string name = Sender != nullptr ? Sender->Name : std::string();
    std::fprintf(stderr, "kairelon: exception in a message handler%s%s: %s\n",
                 name.empty() ? "" : " of ", name.c_str(), error.what());
}

TExceptionHandler SetExceptionHandler(TExceptionHandler handler) {
    std::lock_guard<std::mutex> guard(HandlerLock());
    TExceptionHandler previous = std::move(CurrentHandler());
    CurrentHandler() = std::move(handler);
    return previous;
}

} // namespace kairelon
