#include "event_log.h"

#include <algorithm>
#include <chrono>

void TEventLog::Add(const std::string& event) {
  std::lock_guard<std::mutex> guard(FMutex);
  FEvents.push_back(event);
  FChanged.notify_all();
}

bool TEventLog::WaitFor(const std::string& event, size_t times) {
  std::unique_lock<std::mutex> guard(FMutex);
  return FChanged.wait_for(guard, std::chrono::seconds(30), [&] {
    return size_t(std::count(FEvents.begin(), FEvents.end(), event)) >= times;
  });
}

std::vector<std::string> TEventLog::Events() {
  std::lock_guard<std::mutex> guard(FMutex);
  return FEvents;
}
