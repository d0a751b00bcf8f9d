// Reloading the configuration at run time and the watcher that reloads it
// when the file changes.
#include <chrono>
#include <mutex>

#include "kelvane_rovimar_diagnosis/sensor_diagnosis.hpp"
#include "logger/logger.hpp"

namespace {

constexpr std::chrono::seconds kConfigWatchPeriod(1);

}  // namespace

std::string Diagnosis::configFilePath() const {
  std::lock_guard<std::mutex> lock(data_mutex_);
  return config_file_path_;
}

bool Diagnosis::reloadConfig() {
  std::lock_guard<std::mutex> reload_lock(reload_mutex_);
  const std::string path = configFilePath();
  if (path.empty()) {
    LOG_ERROR("No config file path set");
    return false;
  }
  LOG_INFO("Reloading config from: {}", path);
  if (loadConfigFromFile(path)) {
    LOG_INFO("Config reloaded successfully");
    return true;
  }
  // A failed load replaces no table, so the previous thresholds are still the
  // ones in use; nothing registered meanwhile is undone.
  LOG_INFO("Config reload failed, rolling back to previous configuration");
  return false;
}

void Diagnosis::startConfigWatcher() {
  {
    std::lock_guard<std::mutex> lock(config_watcher_mutex_);
    if (config_watcher_running_.load()) {
      return;
    }
    config_watcher_running_.store(true);
  }
  try {
    config_watcher_thread_ = std::thread(&Diagnosis::configWatcherThread, this);
  } catch (...) {
    config_watcher_running_.store(false);
    throw;
  }
  LOG_INFO("Config watcher thread started");
}

void Diagnosis::stopConfigWatcher() {
  {
    std::lock_guard<std::mutex> lock(config_watcher_mutex_);
    if (!config_watcher_running_.load()) {
      return;
    }
    config_watcher_running_.store(false);
  }
  config_watcher_cv_.notify_all();
  if (config_watcher_thread_.joinable()) {
    config_watcher_thread_.join();
  }
  LOG_INFO("Config watcher thread stopped");
}

void Diagnosis::requestConfigReload() {
  {
    std::lock_guard<std::mutex> lock(config_watcher_mutex_);
    reload_requested_.store(true);
  }
  config_watcher_cv_.notify_all();
}

void Diagnosis::configWatcherThread() {
  std::unique_lock<std::mutex> lock(config_watcher_mutex_);
  while (true) {
    config_watcher_cv_.wait_for(lock, kConfigWatchPeriod, [this] {
      return reload_requested_.load() || !config_watcher_running_.load();
    });
    const bool requested = reload_requested_.exchange(false);
    if (!requested && !config_watcher_running_.load()) {
      return;
    }
    // A load takes the data lock and logs: never under the watcher's lock.
    lock.unlock();
    if (requested) {
      reloadConfig();
    } else if (const std::string path = configFilePath(); !path.empty()) {
      // last_config_mtime_ moves only on a successful load, so a file that fails
      // keeps looking newer and is tried again every second until it loads.
      const int64_t modified_ns = getConfigFileModifiedTime(path).time_since_epoch().count();
      if (modified_ns > last_config_mtime_.load()) {
        LOG_INFO("Config file modified, auto-reloading...");
        reloadConfig();
      }
    }
    lock.lock();
  }
}
