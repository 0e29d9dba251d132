// run() and what it calls are the I/O thread; the rest runs on the thread that
// starts and stops the session.
#include "platform/hardware/alsa/IoSession.h"

#include <alsa/asoundlib.h>
#include <poll.h>
#include <pthread.h>
#include <sched.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <ctime>
#include <optional>

namespace corvane::hw::alsa {

namespace {

// A period that does not come within this is a device that stopped working.
constexpr int kLostAfterMs = 1000;
constexpr int kPollSliceMs = 100;
constexpr int kRealtimePriority = 60;

snd_pcm_format_t toAlsa(SampleFormat format) {
    switch (format) {
    case SampleFormat::S16:
        return SND_PCM_FORMAT_S16_LE;
    case SampleFormat::S24_3LE:
        return SND_PCM_FORMAT_S24_3LE;
    case SampleFormat::S24:
        return SND_PCM_FORMAT_S24_LE;
    case SampleFormat::S32:
        return SND_PCM_FORMAT_S32_LE;
    case SampleFormat::Float:
        return SND_PCM_FORMAT_FLOAT_LE;
    }
    return SND_PCM_FORMAT_UNKNOWN;
}

bool isXrun(int code) { return code == -EPIPE || code == -ESTRPIPE; }

// One memory-mapped pass: ALSA lends up to `wanted` frames of its buffer,
// `convert(area, frames)` fills or empties them inside a real-time scope, and
// they go back committed. `moved` is how many; a short commit is an xrun.
template <typename Convert>
int transferMapped(snd_pcm_t* pcm, std::uint32_t wanted, std::uint32_t& moved, Convert&& convert) {
    const snd_pcm_channel_area_t* areas = nullptr;
    snd_pcm_uframes_t offset = 0;
    snd_pcm_uframes_t frames = wanted;
    if (int err = snd_pcm_mmap_begin(pcm, &areas, &offset, &frames); err < 0)
        return err;
    auto* area = static_cast<std::uint8_t*>(areas[0].addr) + areas[0].first / 8 + offset * (areas[0].step / 8);
    {
        RealtimeScope realtime;
        convert(area, static_cast<std::uint32_t>(frames));
    }
    const snd_pcm_sframes_t committed = snd_pcm_mmap_commit(pcm, offset, frames);
    if (committed < 0)
        return static_cast<int>(committed);
    if (committed != static_cast<snd_pcm_sframes_t>(frames))
        return -EPIPE;
    moved = static_cast<std::uint32_t>(frames);
    return 0;
}

// One read/write pass through `staging`: playback converts into it before the
// write, capture out of it after the read, either inside a real-time scope.
// `moved` is how many frames went; none at all is -EAGAIN.
template <typename Convert>
int transferPlain(snd_pcm_t* pcm, bool capture, std::uint8_t* staging, std::uint32_t wanted, std::uint32_t& moved,
                  Convert&& convert) {
    if (!capture) {
        RealtimeScope realtime;
        convert(staging, wanted);
    }
    const snd_pcm_sframes_t done = capture ? snd_pcm_readi(pcm, staging, wanted) : snd_pcm_writei(pcm, staging, wanted);
    if (done < 0)
        return static_cast<int>(done);
    if (done == 0)
        return -EAGAIN;
    if (capture) {
        RealtimeScope realtime;
        convert(staging, static_cast<std::uint32_t>(done));
    }
    moved = static_cast<std::uint32_t>(done);
    return 0;
}

std::string describe(int code) { return snd_strerror(code); }

} // namespace

IoSession::IoSession(Setup setup)
    : setup_(std::move(setup)), overloadNotifier_(setup_.announceOverload), lostNotifier_(setup_.announceLost),
      delayNotifier_(setup_.announceDelay ? setup_.announceDelay : [] {}) {
    sem_init(&exited_, 0, 0);
    if (!setup_.control)
        setup_.controlRing = nullptr;
}

IoSession::~IoSession() {
    stop(std::chrono::milliseconds(2000));
    overloadNotifier_.stop();
    lostNotifier_.stop();
    delayNotifier_.stop();
    if (capture_)
        snd_pcm_close(capture_);
    if (playback_)
        snd_pcm_close(playback_);
    sem_destroy(&exited_);
}

std::unique_ptr<IoSession> IoSession::open(Setup setup, std::string& error, int& code) {
    std::unique_ptr<IoSession> session(new IoSession(std::move(setup)));
    IoSession& s = *session;
    code = 0;
    if (!s.stop_.valid()) {
        error = "No event descriptor for the audio thread.";
        return nullptr;
    }
    const auto openSide = [&](snd_pcm_t*& pcm, snd_pcm_stream_t stream) {
        // Non-blocking: a device someone holds answers EBUSY at once instead of
        // making us wait for it. Transfers never block either; we poll.
        code = snd_pcm_open(&pcm, s.setup_.pcmName.c_str(), stream, SND_PCM_NONBLOCK);
        if (code < 0)
            pcm = nullptr;
        return code >= 0;
    };
    // Playback first: its period size is the one capture must match.
    if (s.setup_.outputs > 0) {
        if (!openSide(s.playback_, SND_PCM_STREAM_PLAYBACK)) {
            error = "The device's playback side could not be opened: " + describe(code) + ".";
            return nullptr;
        }
        if (!s.configure(s.playback_, false, s.setup_.outputs, false, error, code))
            return nullptr;
    }
    if (s.setup_.inputs > 0) {
        if (!openSide(s.capture_, SND_PCM_STREAM_CAPTURE)) {
            error = "The device's capture side could not be opened: " + describe(code) + ".";
            return nullptr;
        }
        if (!s.configure(s.capture_, true, s.setup_.inputs, s.playback_ != nullptr, error, code))
            return nullptr;
    }
    if (!s.capture_ && !s.playback_) {
        error = "The device has neither inputs nor outputs.";
        return nullptr;
    }
    if (s.capture_ && s.playback_)
        s.actual_.linked = snd_pcm_link(s.capture_, s.playback_) == 0;
    s.prepareBuffers();
    return session;
}

bool IoSession::configure(snd_pcm_t* pcm, bool capture, std::uint32_t channels, bool exactPeriod,
                          std::string& error, int& code) {
    const char* side = capture ? "capture" : "playback";
    snd_pcm_hw_params_t* hw = nullptr;
    snd_pcm_hw_params_alloca(&hw);
    const auto fail = [&](int err, const std::string& what) {
        code = err;
        error = what;
        return false;
    };
    if (int err = snd_pcm_hw_params_any(pcm, hw); err < 0)
        return fail(err, std::string("The device's ") + side + " side has no usable configuration.");
    snd_pcm_hw_params_set_rate_resample(pcm, hw, 0);

    bool mmap = snd_pcm_hw_params_set_access(pcm, hw, SND_PCM_ACCESS_MMAP_INTERLEAVED) == 0;
    if (!mmap && snd_pcm_hw_params_set_access(pcm, hw, SND_PCM_ACCESS_RW_INTERLEAVED) < 0)
        return fail(-EINVAL, std::string("The device's ") + side + " side offers no interleaved access.");

    std::optional<SampleFormat> format;
    for (SampleFormat candidate : kAllFormats)
        if (snd_pcm_hw_params_test_format(pcm, hw, toAlsa(candidate)) == 0) {
            format = candidate;
            break;
        }
    if (!format || snd_pcm_hw_params_set_format(pcm, hw, toAlsa(*format)) < 0)
        return fail(-EINVAL, std::string("The device's ") + side +
                                 " side offers none of the sample formats S16, S24, S24_3LE, S32 or float.");
    if (int err = snd_pcm_hw_params_set_channels(pcm, hw, channels); err < 0)
        return fail(err, "The device does not accept " + std::to_string(channels) + " " + side + " channels.");

    const auto rate = static_cast<unsigned>(std::lround(setup_.sampleRate));
    if (int err = snd_pcm_hw_params_set_rate(pcm, hw, rate, 0); err < 0)
        return fail(err, "The device does not run at " + std::to_string(rate) + " Hz.");

    snd_pcm_uframes_t period = exactPeriod ? actual_.periodFrames : setup_.periodFrames;
    int dir = 0;
    if (exactPeriod) {
        if (int err = snd_pcm_hw_params_set_period_size(pcm, hw, period, 0); err < 0)
            return fail(err, "The device's capture and playback sides do not agree on a period of " +
                                 std::to_string(period) + " frames.");
    } else if (int err = snd_pcm_hw_params_set_period_size_near(pcm, hw, &period, &dir); err < 0) {
        return fail(err, "The device accepts no period size near " + std::to_string(setup_.periodFrames) +
                             " frames.");
    }
    // Two periods keep the latency lowest; some hardware wants three.
    unsigned periods = 2;
    if (snd_pcm_hw_params_set_periods(pcm, hw, 2, 0) < 0) {
        periods = 3;
        if (snd_pcm_hw_params_set_periods(pcm, hw, 3, 0) < 0) {
            dir = 0;
            if (int err = snd_pcm_hw_params_set_periods_near(pcm, hw, &periods, &dir); err < 0)
                return fail(err, "The device accepts no number of periods.");
        }
    }
    if (int err = snd_pcm_hw_params(pcm, hw); err < 0)
        return fail(err, std::string("The device's ") + side + " side refused its configuration: " +
                             describe(err) + ".");
    snd_pcm_hw_params_get_period_size(hw, &period, &dir);
    snd_pcm_hw_params_get_periods(hw, &periods, &dir);
    snd_pcm_uframes_t buffer = 0;
    snd_pcm_hw_params_get_buffer_size(hw, &buffer);

    snd_pcm_sw_params_t* sw = nullptr;
    snd_pcm_sw_params_alloca(&sw);
    snd_pcm_sw_params_current(pcm, sw);
    snd_pcm_uframes_t boundary = 0;
    snd_pcm_sw_params_get_boundary(sw, &boundary);
    // We start both sides ourselves; a full (capture) or empty (playback)
    // buffer is an xrun; poll wakes us for each whole period.
    snd_pcm_sw_params_set_start_threshold(pcm, sw, boundary);
    snd_pcm_sw_params_set_stop_threshold(pcm, sw, buffer);
    snd_pcm_sw_params_set_avail_min(pcm, sw, period);
    if (int err = snd_pcm_sw_params(pcm, sw); err < 0)
        return fail(err, std::string("The device's ") + side + " side refused its software parameters.");

    actual_.periodFrames = static_cast<std::uint32_t>(period);
    actual_.periods = std::max(actual_.periods, periods);
    bufferFrames_ = std::max(bufferFrames_, static_cast<std::uint32_t>(buffer));
    (capture ? actual_.captureFormat : actual_.playbackFormat) = *format;
    (capture ? actual_.captureMmap : actual_.playbackMmap) = mmap;
    return true;
}

void IoSession::prepareBuffers() {
    const std::uint32_t period = actual_.periodFrames;
    inputSamples_.assign(std::size_t(setup_.inputs) * period, 0.0f);
    outputSamples_.assign(std::size_t(setup_.outputs) * period, 0.0f);
    for (std::uint32_t c = 0; c < setup_.inputs; ++c)
        inputPointers_.push_back(inputSamples_.data() + std::size_t(c) * period);
    for (std::uint32_t c = 0; c < setup_.outputs; ++c)
        outputPointers_.push_back(outputSamples_.data() + std::size_t(c) * period);
    if (capture_)
        captureBytes_.assign(std::size_t(period) * setup_.inputs * bytesPerSample(actual_.captureFormat), 0);
    if (playback_) {
        const std::size_t bytes = std::size_t(period) * setup_.outputs * bytesPerSample(actual_.playbackFormat);
        playbackBytes_.assign(bytes, 0);
        silence_.assign(bytes, 0);
    }
    const auto descriptors = [](snd_pcm_t* pcm, std::vector<pollfd>& fds) {
        if (!pcm)
            return;
        const int count = snd_pcm_poll_descriptors_count(pcm);
        fds.resize(static_cast<std::size_t>(std::max(count, 0)));
        if (count > 0)
            snd_pcm_poll_descriptors(pcm, fds.data(), static_cast<unsigned>(count));
    };
    descriptors(capture_, captureFds_);
    descriptors(playback_, playbackFds_);
    waitFds_.resize(captureFds_.size() + playbackFds_.size() + 1);
}

int IoSession::prime() {
    if (capture_)
        if (int err = snd_pcm_prepare(capture_); err < 0)
            return err;
    if (playback_) {
        if (!actual_.linked)
            if (int err = snd_pcm_prepare(playback_); err < 0)
                return err;
        // A linked prepare may have prepared it already; a second one is harmless.
        if (snd_pcm_state(playback_) != SND_PCM_STATE_PREPARED)
            if (int err = snd_pcm_prepare(playback_); err < 0)
                return err;
        for (std::uint32_t filled = 0; filled < bufferFrames_;) {
            const std::uint32_t chunk = std::min(actual_.periodFrames, bufferFrames_ - filled);
            const snd_pcm_sframes_t written = actual_.playbackMmap
                                                  ? snd_pcm_mmap_writei(playback_, silence_.data(), chunk)
                                                  : snd_pcm_writei(playback_, silence_.data(), chunk);
            if (written < 0)
                return static_cast<int>(written);
            if (written == 0)
                break;
            filled += static_cast<std::uint32_t>(written);
        }
    }
    return 0;
}

int IoSession::startPcms() {
    if (playback_)
        if (int err = snd_pcm_start(playback_); err < 0)
            return err;
    if (capture_ && !(actual_.linked && playback_))
        if (int err = snd_pcm_start(capture_); err < 0)
            return err;
    return 0;
}

bool IoSession::start(std::string& error, bool& realtime) {
    realtime = false;
    if (started_)
        return true;
    if (int err = prime(); err < 0) {
        error = "The device could not be prepared: " + describe(err) + ".";
        return false;
    }
    started_ = true;
    if (setup_.controlRing)
        setup_.controlRing->attach();
    thread_ = std::thread([this] { run(); });
    sched_param param{};
    param.sched_priority = std::min(kRealtimePriority, sched_get_priority_max(SCHED_FIFO));
    realtime = pthread_setschedparam(thread_.native_handle(), SCHED_FIFO, &param) == 0;
    return true;
}

bool IoSession::stop(std::chrono::milliseconds patience) {
    if (stopped_ || !started_) {
        stopped_ = true;
        return true;
    }
    stopping_.store(true);
    stop_.raise();
    timespec deadline{};
    clock_gettime(CLOCK_REALTIME, &deadline);
    const auto ns = deadline.tv_nsec + std::chrono::nanoseconds(patience).count();
    deadline.tv_sec += static_cast<time_t>(ns / 1000000000);
    deadline.tv_nsec = static_cast<long>(ns % 1000000000);
    int waited;
    while ((waited = sem_timedwait(&exited_, &deadline)) != 0 && errno == EINTR) {
    }
    if (waited != 0) {
        thread_.detach();
        return false;
    }
    thread_.join();
    stopped_ = true;
    if (setup_.controlRing)
        setup_.controlRing->detach();
    if (playback_)
        snd_pcm_drop(playback_);
    if (capture_ && !actual_.linked)
        snd_pcm_drop(capture_);
    return true;
}

// --- the I/O thread --------------------------------------------------------

void IoSession::run() {
    int code = startPcms();
    bool lost = code < 0 && !isXrun(code);
    if (isXrun(code))
        code = recover();
    lost = lost || (code < 0 && !isXrun(code));
    bool delayRead = false;
    while (!lost && !stopping_.load(std::memory_order_relaxed)) {
        const Wait wait = waitForPeriod(code);
        if (wait == Wait::Stop)
            break;
        if (wait == Wait::Ready) {
            code = transferPeriod(true);
            if (code >= 0) {
                process();
                code = transferPeriod(false);
            }
            if (code >= 0 && !delayRead) {
                delayRead = true;
                readDriverDelay();
            }
        }
        if (wait == Wait::Lost) {
            lost = true;
        } else if (isXrun(code)) {
            xruns_.fetch_add(1, std::memory_order_relaxed);
            overloadNotifier_.post();
            code = recover();
            lost = code < 0;
        } else if (code < 0 && code != -EAGAIN) {
            lost = true; // ENODEV when the card was pulled, EIO, EBADFD
        }
    }
    if (lost && !stopping_.load())
        lostNotifier_.post();
    sem_post(&exited_);
}

IoSession::Wait IoSession::waitForPeriod(int& code) {
    const snd_pcm_sframes_t period = actual_.periodFrames;
    int waitedMs = 0;
    for (;;) {
        if (stopping_.load(std::memory_order_relaxed))
            return Wait::Stop;
        const snd_pcm_sframes_t in = capture_ ? snd_pcm_avail_update(capture_) : period;
        const snd_pcm_sframes_t out = playback_ ? snd_pcm_avail_update(playback_) : period;
        if (in < 0 || out < 0) {
            code = static_cast<int>(in < 0 ? in : out);
            return Wait::Failed;
        }
        // More than a buffer's worth is an xrun the stop threshold has not
        // caught yet (plug-in PCMs keep running).
        if (in > static_cast<snd_pcm_sframes_t>(bufferFrames_) || out > static_cast<snd_pcm_sframes_t>(bufferFrames_)) {
            code = -EPIPE;
            return Wait::Failed;
        }
        if (in >= period && out >= period) {
            code = 0;
            return Wait::Ready;
        }
        std::size_t n = 0;
        const bool waitIn = in < period;
        const bool waitOut = out < period;
        if (waitIn)
            for (const auto& fd : captureFds_)
                waitFds_[n++] = fd;
        if (waitOut)
            for (const auto& fd : playbackFds_)
                waitFds_[n++] = fd;
        waitFds_[n++] = pollfd{stop_.fd(), POLLIN, 0};
        const int ready = poll(waitFds_.data(), n, kPollSliceMs);
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready <= 0) {
            waitedMs += kPollSliceMs;
            if (waitedMs >= kLostAfterMs)
                return Wait::Lost;
            continue;
        }
        // Plug-ins consume their wake-up in revents; a POLLERR means the
        // stream stopped, which the next avail_update reports.
        std::size_t at = 0;
        unsigned short revents = 0;
        if (waitIn) {
            snd_pcm_poll_descriptors_revents(capture_, &waitFds_[at], static_cast<unsigned>(captureFds_.size()),
                                             &revents);
            at += captureFds_.size();
        }
        if (waitOut)
            snd_pcm_poll_descriptors_revents(playback_, &waitFds_[at], static_cast<unsigned>(playbackFds_.size()),
                                             &revents);
        if (waitFds_[n - 1].revents & POLLIN)
            return Wait::Stop;
        if ((capture_ && snd_pcm_state(capture_) == SND_PCM_STATE_DISCONNECTED) ||
            (playback_ && snd_pcm_state(playback_) == SND_PCM_STATE_DISCONNECTED)) {
            code = -ENODEV;
            return Wait::Failed;
        }
    }
}

int IoSession::transferPeriod(bool capture) {
    snd_pcm_t* pcm = capture ? capture_ : playback_;
    if (!pcm)
        return 0;
    const std::uint32_t period = actual_.periodFrames;
    const SampleFormat format = capture ? actual_.captureFormat : actual_.playbackFormat;
    const std::uint32_t channels = capture ? setup_.inputs : setup_.outputs;
    std::uint32_t done = 0;
    // The next `frames` frames of the period (from `done` on), to or from the device's layout in `bytes`.
    const auto convert = [&](std::uint8_t* bytes, std::uint32_t frames) {
        if (capture)
            deinterleave(format, bytes, channels, frames, inputPointers_.data(), done);
        else
            interleave(format, outputPointers_.data(), channels, frames, done, bytes);
    };
    while (done < period) {
        std::uint32_t moved = 0;
        const int err = (capture ? actual_.captureMmap : actual_.playbackMmap)
                            ? transferMapped(pcm, period - done, moved, convert)
                            : transferPlain(pcm, capture, (capture ? captureBytes_ : playbackBytes_).data(),
                                            period - done, moved, convert);
        if (err < 0)
            return err;
        done += moved;
    }
    return 0;
}

CORVANE_REALTIME
void IoSession::process() noexcept {
    RealtimeScope realtime;
    // Before the audio: what the controls change is heard in this period.
    if (MidiEventRing* ring = setup_.controlRing.get())
        ring->drain([this](const std::uint8_t* bytes, std::uint32_t size) { setup_.control->receive(bytes, size); });
    setup_.callback->process(inputPointers_.data(), setup_.inputs, outputPointers_.data(), setup_.outputs,
                             actual_.periodFrames);
}

void IoSession::readDriverDelay() {
    // The delay counts what waits in the ALSA buffer too: for playback what
    // was written and not yet played, for capture what was recorded and not
    // yet read. Beyond that is the driver's own. Read with the buffer state in
    // one call, so the hardware pointer cannot move in between.
    snd_pcm_sframes_t avail = 0, delay = 0;
    if (playback_ && snd_pcm_avail_delay(playback_, &avail, &delay) == 0) {
        const snd_pcm_sframes_t queued = static_cast<snd_pcm_sframes_t>(bufferFrames_) - avail;
        playbackDelay_.store(static_cast<std::uint32_t>(std::max<snd_pcm_sframes_t>(0, delay - queued)));
    }
    if (capture_ && snd_pcm_avail_delay(capture_, &avail, &delay) == 0)
        captureDelay_.store(static_cast<std::uint32_t>(std::max<snd_pcm_sframes_t>(0, delay - avail)));
    delayNotifier_.post();
}

int IoSession::recover() {
    if (playback_)
        snd_pcm_drop(playback_);
    if (capture_ && !actual_.linked)
        snd_pcm_drop(capture_);
    if (int err = prime(); err < 0)
        return isXrun(err) ? -EIO : err;
    const int err = startPcms();
    return isXrun(err) ? -EIO : err;
}

} // namespace corvane::hw::alsa
