// System metrics: the first sample at once with 0 %, the tick interval, CPU percent from an injected
// clock, the cap, shrinking thread times, a failed memory reading reported as an error, and the real
// /proc of this process.
#include <gtest/gtest.h>

#include <chrono>

#include "dashboard/ProcSelfResourceReader.hpp"
#include "dashboard/SystemMetricsService.hpp"

namespace pelko {
namespace {

struct FakeReader final : ProcessResourceReading {
    std::optional<std::uint64_t> resident = 157286400;
    std::optional<CPUTimes> times = CPUTimes{0, 0};
    unsigned processors = 4;
    std::optional<std::uint64_t> residentBytes() const override { return resident; }
    std::optional<CPUTimes> cpuTimes() const override { return times; }
    unsigned activeProcessorCount() const override { return processors; }
};

struct FakeTicker final : SystemMetricsTicking {
    std::chrono::milliseconds interval{0};
    std::function<void()> tick;
    int starts = 0;
    void start(std::chrono::milliseconds every, std::function<void()> handler) override {
        interval = every;
        tick = std::move(handler);
        ++starts;
    }
    void cancel() override { tick = nullptr; }
};

struct RecordingEmitter final : SystemMetricsEventEmitting {
    std::vector<SystemMetricsSnapshot> samples;
    std::vector<std::string> errors;
    void emitSystemMetrics(const SystemMetricsSnapshot& snapshot) override { samples.push_back(snapshot); }
    void emitSystemMetricsError(const std::string& message) override { errors.push_back(message); }
};

struct Harness {
    std::shared_ptr<FakeReader> reader = std::make_shared<FakeReader>();
    FakeTicker* ticker = nullptr;
    Date now = Date::fromSeconds(1'770'000'000);
    std::shared_ptr<RecordingEmitter> emitter = std::make_shared<RecordingEmitter>();
    std::unique_ptr<SystemMetricsService> service;

    Harness() {
        auto fake = std::make_unique<FakeTicker>();
        ticker = fake.get();
        service = std::make_unique<SystemMetricsService>(
            5.0, reader, [this] { return now; }, std::move(fake));
        service->setEventEmitter(emitter);
    }
    // Moves the clock and the CPU counters, then fires the timer.
    void tickAfter(std::int64_t milliseconds, std::uint64_t userMicros, std::uint64_t systemMicros) {
        now = Date::fromMilliseconds(now.milliseconds() + milliseconds);
        reader->times = ProcessResourceReading::CPUTimes{userMicros, systemMicros};
        ASSERT_TRUE(ticker->tick);
        ticker->tick();
    }
    double lastPercent() const { return emitter->samples.back().cpuPercent; }
};

TEST(SystemMetricsServiceTest, FirstSampleIsImmediateWithZeroCPUAndTicksEveryFiveSeconds) {
    Harness harness;
    harness.reader->times = ProcessResourceReading::CPUTimes{9'000'000, 1'000'000};
    harness.service->start();
    ASSERT_EQ(harness.emitter->samples.size(), 1u);
    EXPECT_EQ(harness.emitter->samples[0], (SystemMetricsSnapshot{harness.now, 0.0, 150.0}));
    EXPECT_EQ(harness.ticker->interval, std::chrono::milliseconds(5000));

    // 1.5 s of user and 0.5 s of system time over 5 s: 40 %.
    harness.tickAfter(5000, 10'500'000, 1'500'000);
    EXPECT_DOUBLE_EQ(harness.lastPercent(), 40.0);
}

TEST(SystemMetricsServiceTest, CPUPercentIsCappedAndNeverNegative) {
    Harness harness;
    harness.reader->times = ProcessResourceReading::CPUTimes{50'000'000, 50'000'000};
    harness.service->start();
    // 30 s of CPU in 5 s would be 600 %; four processors allow 400.
    harness.tickAfter(5000, 70'000'000, 60'000'000);
    EXPECT_DOUBLE_EQ(harness.lastPercent(), 400.0);
    // Threads that ended make the sums smaller: no wrap-around, just 0.
    harness.tickAfter(5000, 1'000'000, 60'000'000);
    EXPECT_DOUBLE_EQ(harness.lastPercent(), 0.0);
    // The smaller reading became the previous sample.
    harness.tickAfter(5000, 2'000'000, 60'000'000);
    EXPECT_DOUBLE_EQ(harness.lastPercent(), 20.0);
}

TEST(SystemMetricsServiceTest, FailedCPUReadingKeepsThePreviousSample) {
    Harness harness;
    harness.service->start();
    harness.tickAfter(5000, 0, 0);
    harness.reader->times.reset();
    harness.now = Date::fromMilliseconds(harness.now.milliseconds() + 5000);
    harness.ticker->tick();
    EXPECT_DOUBLE_EQ(harness.lastPercent(), 0.0);
    // The next good reading covers the whole 10 s since the last good one.
    harness.tickAfter(5000, 1'000'000, 0);
    EXPECT_DOUBLE_EQ(harness.lastPercent(), 10.0);
}

TEST(SystemMetricsServiceTest, FailedMemoryReadingIsReportedNotInvented) {
    Harness harness;
    harness.reader->resident.reset();
    harness.service->start();
    harness.ticker->tick();
    EXPECT_TRUE(harness.emitter->samples.empty());
    EXPECT_EQ(harness.emitter->errors, (std::vector<std::string>{"Failed to collect system metrics",
                                                                 "Failed to collect system metrics"}));
}

TEST(SystemMetricsServiceTest, RestartForgetsThePreviousSampleAndStopEndsTicks) {
    Harness harness;
    harness.service->start();
    harness.tickAfter(5000, 1'000'000, 0);
    harness.service->start();
    EXPECT_EQ(harness.ticker->starts, 2);
    EXPECT_DOUBLE_EQ(harness.lastPercent(), 0.0);
    harness.service->stop();
    EXPECT_FALSE(harness.ticker->tick);
}

TEST(ProcSelfResourceReaderTest, ParsesStatWithAwkwardCommandNames) {
    auto times = ProcSelfResourceReader::parseTicks(
        "4242 (a) b (c) S 1 4242 4242 0 -1 4194560 500 0 0 0 1234 567 0 0 20 0 3 0 100 1000 200\n");
    ASSERT_TRUE(times);
    EXPECT_EQ(times->user, 1234u);
    EXPECT_EQ(times->system, 567u);
    EXPECT_FALSE(ProcSelfResourceReader::parseTicks("4242 (a) S 1 2"));
    EXPECT_FALSE(ProcSelfResourceReader::parseTicks("no parenthesis"));
    EXPECT_EQ(ProcSelfResourceReader::parseResidentPages("1000 250 30 1 0 90 0\n"), 250u);
    EXPECT_FALSE(ProcSelfResourceReader::parseResidentPages("1000"));
}

TEST(ProcSelfResourceReaderTest, RealProcessSampleIsPlausible) {
    SystemMetricsService service;
    auto emitter = std::make_shared<RecordingEmitter>();
    service.setEventEmitter(emitter);
    service.start();
    ASSERT_EQ(emitter->samples.size(), 1u);
    auto sample = emitter->samples[0];
    EXPECT_GT(sample.memoryMB, 1.0);
    EXPECT_LT(sample.memoryMB, 1024.0 * 1024.0);
    EXPECT_EQ(sample.cpuPercent, 0.0);
    ProcSelfResourceReader reader;
    ASSERT_TRUE(reader.cpuTimes());
    EXPECT_GE(reader.activeProcessorCount(), 1u);
    service.stop();
}

}  // namespace
}  // namespace pelko
