// What the tool does when it is told to stop: the temporary files it has made
// are removed, and it ends by the signal it received, so a calling shell sees
// 128 + the signal's number and its loops stop.
#pragma once

#include <pthread.h>

#include <atomic>
#include <functional>
#include <string>
#include <thread>

// The temporary files in existence, which an end at once removes.
void RegisterTempFile(const std::string& path);
// Removes the file and forgets it.
void RemoveTempFile(const std::string& path);

// A step that an end at once waits for, so that it never cuts one short: a
// report row is written whole, and the outputs of a pair are put in place both
// or neither. The end at once then keeps the step from starting again.
class HoldOffEnd {
 public:
  HoldOffEnd();
  ~HoldOffEnd();
  HoldOffEnd(const HoldOffEnd&) = delete;
  HoldOffEnd& operator=(const HoldOffEnd&) = delete;
};

// Takes SIGINT, SIGTERM and SIGHUP away from every thread the process starts
// afterwards and hands them to a thread of its own.
//  - kEndAtOnce: the first signal removes the temporary files and ends the process.
//  - kFinishInFlight: the first signal calls onStop (the caller lets the work in
//    flight finish and then calls EndBySignal); a second one ends at once.
class SignalWatch {
 public:
  enum class Mode { kEndAtOnce, kFinishInFlight };
  SignalWatch(Mode mode, std::function<void(int)> onStop);
  ~SignalWatch();
  SignalWatch(const SignalWatch&) = delete;
  SignalWatch& operator=(const SignalWatch&) = delete;

  // The first signal received, or 0.
  int Received() const { return m_received.load(); }
  // Where no thread could be started for the watch, takes the signals that are
  // pending; the caller's loop calls it now and then. Does nothing otherwise.
  void Poll();

 private:
  void Watch();
  void Take(int signal);

  Mode m_mode;
  std::function<void(int)> m_onStop;
  std::atomic<int> m_received{0};
  std::atomic<bool> m_closing{false};
  std::thread m_thread;  // not joinable when the watch polls
};

// Ends the process by the signal's default action.
[[noreturn]] void EndBySignal(int signal);
