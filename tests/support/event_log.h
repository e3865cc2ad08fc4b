// What the threads of a test did, in order. Waits are bounded, so that a
// lost thread fails the test instead of hanging it.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <mutex>
#include <string>
#include <vector>

class TEventLog {
public:
  void Add(const std::string& event);
  // Waits up to thirty seconds until the event has been added `times` times;
  // false when it has not.
  bool WaitFor(const std::string& event, size_t times = 1);
  std::vector<std::string> Events();

private:
  std::mutex FMutex;
  std::condition_variable FChanged;
  std::vector<std::string> FEvents;
};
