#include "interrupts.h"

#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <set>
#include <system_error>

#include "quorlix_batch.h"

namespace {

std::mutex g_tempMutex;
std::set<std::string>& TempFiles() {
  static std::set<std::string> files;
  return files;
}
// Held by the steps an end at once must not cut, and by the end for good.
std::mutex g_endMutex;

// The signals that stop the tool, plus the one the watch uses to wake its own thread.
constexpr int kWakeSignal = SIGUSR1;
sigset_t WatchedSignals() {
  sigset_t set;
  sigemptyset(&set);
  for (const int signal : {SIGINT, SIGTERM, SIGHUP, kWakeSignal}) sigaddset(&set, signal);
  return set;
}

// Waits for the step in progress, writes out what the streams hold (whole report
// rows, since a row is such a step), removes the tool's registered temporary
// files and the library's, and keeps both locks, so that no worker registers
// (and then creates) another, nor starts a step, before the process ends.
void RemoveAllTempFilesForGood() {
  g_endMutex.lock();
  std::fflush(nullptr);
  g_tempMutex.lock();
  for (const auto& path : TempFiles()) ::unlink(path.c_str());
  // And the library's: a batch's private folders, a table's temporary.
  quorlix_batch_abandon();
}

}  // namespace

void RegisterTempFile(const std::string& path) {
  const std::lock_guard lock(g_tempMutex);
  TempFiles().insert(path);
}

void RemoveTempFile(const std::string& path) {
  const std::lock_guard lock(g_tempMutex);
  ::unlink(path.c_str());
  TempFiles().erase(path);
}

HoldOffEnd::HoldOffEnd() { g_endMutex.lock(); }
HoldOffEnd::~HoldOffEnd() { g_endMutex.unlock(); }

void EndBySignal(int signal) {
  std::signal(signal, SIG_DFL);
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, signal);
  ::pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
  std::raise(signal);
  std::_Exit(128 + signal);
}

SignalWatch::SignalWatch(Mode mode, std::function<void(int)> onStop) : m_mode(mode), m_onStop(std::move(onStop)) {
  const sigset_t set = WatchedSignals();
  ::pthread_sigmask(SIG_BLOCK, &set, nullptr);
  try {
    m_thread = std::thread([this] { Watch(); });
  } catch (const std::system_error&) {
    // No thread to spare: the signals stay blocked and Poll takes them.
  }
}

void SignalWatch::Poll() {
  if (m_thread.joinable()) return;
  const sigset_t set = WatchedSignals();
  const timespec now{};
  for (int signal; (signal = ::sigtimedwait(&set, nullptr, &now)) > 0;)
    if (signal != kWakeSignal) Take(signal);
}

SignalWatch::~SignalWatch() {
  if (m_thread.joinable()) {
    m_closing = true;
    ::pthread_kill(m_thread.native_handle(), kWakeSignal);
    m_thread.join();
  } else {
    Poll();
  }
  // A stop signal that arrives from here on takes its default action.
  sigset_t set = WatchedSignals();
  sigdelset(&set, kWakeSignal);
  ::pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
}

void SignalWatch::Watch() {
  const sigset_t set = WatchedSignals();
  for (;;) {
    int signal = 0;
    if (::sigwait(&set, &signal) != 0) continue;
    if (signal == kWakeSignal) {
      if (m_closing) return;
      continue;
    }
    Take(signal);
  }
}

void SignalWatch::Take(int signal) {
  int expected = 0;
  const bool first = m_received.compare_exchange_strong(expected, signal);
  if (first && m_mode == Mode::kFinishInFlight) {
    m_onStop(signal);
    return;
  }
  RemoveAllTempFilesForGood();
  EndBySignal(signal);
}
