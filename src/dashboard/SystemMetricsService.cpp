#include "dashboard/SystemMetricsService.hpp"

#include <cmath>
#include <utility>

#include "dashboard/ProcSelfResourceReader.hpp"
#include "platform/RepeatingTimer.hpp"

namespace pelko {

namespace {

class MainQueueTicker final : public SystemMetricsTicking {
  public:
    void start(std::chrono::milliseconds interval, std::function<void()> tick) override {
        timer_.start(interval, std::move(tick));
    }
    void cancel() override { timer_.cancel(); }

  private:
    RepeatingTimer timer_;
};

constexpr double bytesPerMebibyte = 1048576.0;

}  // namespace

SystemMetricsService::SystemMetricsService(double pollingInterval)
    : SystemMetricsService(pollingInterval, std::make_shared<ProcSelfResourceReader>(), &Date::now,
                           std::make_unique<MainQueueTicker>()) {}

SystemMetricsService::SystemMetricsService(double pollingInterval,
                                           std::shared_ptr<const ProcessResourceReading> reader,
                                           std::function<Date()> clock,
                                           std::unique_ptr<SystemMetricsTicking> ticker)
    : ticker_(std::move(ticker)),
      pollingInterval_(pollingInterval),
      reader_(std::move(reader)),
      clock_(std::move(clock)) {}

SystemMetricsService::~SystemMetricsService() {
    ticker_->cancel();
}

void SystemMetricsService::setEventEmitter(std::weak_ptr<SystemMetricsEventEmitting> emitter) {
    eventEmitter_ = std::move(emitter);
}

void SystemMetricsService::start() {
    stop();
    emitCurrentMetrics();
    auto interval = std::chrono::milliseconds(std::llround(pollingInterval_ * 1000));
    // The ticker belongs to this service and is cancelled before it goes, so `this` outlives every tick.
    ticker_->start(interval, [this] { emitCurrentMetrics(); });
}

void SystemMetricsService::stop() {
    ticker_->cancel();
    previous_.reset();
}

std::optional<SystemMetricsSnapshot> SystemMetricsService::getCurrentMetrics() {
    Date timestamp = clock_();
    auto resident = reader_->residentBytes();
    double cpuPercent = calculateCPUPercent(timestamp);
    if (!resident) return std::nullopt;
    return SystemMetricsSnapshot{timestamp, cpuPercent, static_cast<double>(*resident) / bytesPerMebibyte};
}

void SystemMetricsService::emitCurrentMetrics() {
    auto sample = getCurrentMetrics();
    auto emitter = eventEmitter_.lock();
    if (!emitter) return;
    if (sample) {
        emitter->emitSystemMetrics(*sample);
    } else {
        emitter->emitSystemMetricsError(failureMessage);
    }
}

double SystemMetricsService::calculateCPUPercent(Date now) {
    auto current = reader_->cpuTimes();
    if (!current) return 0;
    auto previous = std::exchange(previous_, CPUSample{*current, now});
    if (!previous) return 0;
    double elapsedMicroseconds =
        static_cast<double>(now.milliseconds() - previous->time.milliseconds()) * 1000;
    if (elapsedMicroseconds <= 0) return 0;
    // Times of threads that ended can make a sum smaller than before; that counts as no use.
    auto delta = [](std::uint64_t now, std::uint64_t before) { return now > before ? now - before : 0; };
    double used = static_cast<double>(delta(current->user, previous->times.user)) +
                  static_cast<double>(delta(current->system, previous->times.system));
    double percent = used / elapsedMicroseconds * 100;
    double cap = static_cast<double>(reader_->activeProcessorCount()) * 100;
    return percent > cap ? cap : percent;
}

}  // namespace pelko
