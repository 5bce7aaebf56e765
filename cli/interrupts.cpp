#include "interrupts.h"

#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <mutex>
#include <set>

namespace {

std::mutex g_tempMutex;
std::set<std::string>& TempFiles() {
  static std::set<std::string> files;
  return files;
}

// The signals that stop the tool, plus the one the watch uses to wake its own thread.
constexpr int kWakeSignal = SIGUSR1;
sigset_t WatchedSignals() {
  sigset_t set;
  sigemptyset(&set);
  for (const int signal : {SIGINT, SIGTERM, SIGHUP, kWakeSignal}) sigaddset(&set, signal);
  return set;
}

// Removes every registered temporary file and keeps the lock, so that no worker
// registers (and then creates) another before the process ends.
void RemoveAllTempFilesForGood() {
  g_tempMutex.lock();
  for (const auto& path : TempFiles()) ::unlink(path.c_str());
}

}  // namespace

void RegisterTempFile(const std::string& path) {
  const std::lock_guard lock(g_tempMutex);
  TempFiles().insert(path);
}

void ForgetTempFile(const std::string& path) {
  const std::lock_guard lock(g_tempMutex);
  TempFiles().erase(path);
}

void RemoveTempFile(const std::string& path) {
  const std::lock_guard lock(g_tempMutex);
  ::unlink(path.c_str());
  TempFiles().erase(path);
}

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
  m_thread = std::thread([this] { Watch(); });
}

SignalWatch::~SignalWatch() {
  m_closing = true;
  ::pthread_kill(m_thread.native_handle(), kWakeSignal);
  m_thread.join();
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
    int expected = 0;
    const bool first = m_received.compare_exchange_strong(expected, signal);
    if (first && m_mode == Mode::kFinishInFlight) {
      m_onStop(signal);
      continue;
    }
    RemoveAllTempFilesForGood();
    EndBySignal(signal);
  }
}
