#pragma once

// Small owners for the two things the embedding's messenger object hands out: a counted
// reference to the object itself, and its lock. Used inside the channel glue's own sources.

#include "channel/flutter_embedding.h"

namespace flutter {

// Keeps the embedding's messenger object alive (not the engine behind it). The embedding counts
// references, so the object may outlive the engine; it then reports itself unavailable.
class MessengerReference {
 public:
  explicit MessengerReference(FlutterDesktopMessengerRef messenger)
      : messenger_(messenger != nullptr ? FlutterDesktopMessengerAddRef(messenger) : nullptr) {}
  ~MessengerReference() {
    if (messenger_ != nullptr) {
      FlutterDesktopMessengerRelease(messenger_);
    }
  }

  MessengerReference(const MessengerReference&) = delete;
  MessengerReference& operator=(const MessengerReference&) = delete;

  FlutterDesktopMessengerRef get() const { return messenger_; }

 private:
  FlutterDesktopMessengerRef messenger_;
};

// Holds the messenger lock for one scope. While it is held the engine cannot be torn down, so an
// availability check made under it stays true until the scope ends.
class MessengerLock {
 public:
  explicit MessengerLock(FlutterDesktopMessengerRef messenger)
      : locked_(messenger != nullptr ? FlutterDesktopMessengerLock(messenger) : nullptr) {}
  ~MessengerLock() {
    if (locked_ != nullptr) {
      FlutterDesktopMessengerUnlock(locked_);
    }
  }

  MessengerLock(const MessengerLock&) = delete;
  MessengerLock& operator=(const MessengerLock&) = delete;

 private:
  FlutterDesktopMessengerRef locked_;
};

}  // namespace flutter
