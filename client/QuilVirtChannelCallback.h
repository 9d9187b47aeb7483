// What a channel's handler is told by the channel layer.
#pragma once

#include <cstdint>
#include <vector>

class CAddinChannel;

class IQuilVirtChannelCallback {
 public:
  // The first connection in the add-in's life; the handler keeps the channel for its replies.
  virtual void OnConnected(CAddinChannel* channel) = 0;
  // Every later connection.
  virtual void OnReconnected(CAddinChannel* channel) = 0;
  // A whole message has arrived; the handler owns it from now on.
  virtual void OnData(std::vector<uint8_t> message) = 0;
  // The remote-desktop client is terminating.
  virtual void OnTerminated() = 0;

 protected:
  // Handlers are static objects, never deleted through this interface.
  ~IQuilVirtChannelCallback() = default;
};
