#include "midi_learn.h"

#include <QTimer>

#include "tamborex/engine/engine.h"

CMidiLearn::CMidiLearn(CEngine& engine, QObject* parent)
    : QObject(parent), engine_(engine), timer_(new QTimer(this)) {
    // Often enough to end a lone controller's pair time promptly.
    timer_->setInterval(5);
    connect(timer_, &QTimer::timeout, this, &CMidiLearn::Check);
}

CMidiLearn::~CMidiLearn() {
    if (running_) {
        engine_.SetInputListener({});
    }
}

void CMidiLearn::Start(Done done) {
    Stop();
    classifier_.Reset();
    done_ = std::move(done);
    clock_.start();
    running_ = true;
    // The engine calls this on the user-interface thread, as it handles each message.
    engine_.SetInputListener([this](std::uint32_t message) {
        classifier_.Feed(message, static_cast<std::uint64_t>(clock_.elapsed()));
    });
    timer_->start();
}

void CMidiLearn::Cancel() {
    Stop();
}

void CMidiLearn::Stop() {
    if (running_) {
        running_ = false;
        timer_->stop();
        engine_.SetInputListener({});
    }
}

void CMidiLearn::Check() {
    const bool done = classifier_.Poll(static_cast<std::uint64_t>(clock_.elapsed()));
    if (!done && clock_.elapsed() < kTimeoutMs) {
        return;
    }
    // Not inside the engine's call: the listener is replaced here, on the timer.
    const platform::MidiLearnClassifier::Result result = classifier_.Get();
    Stop();
    if (done_) {
        Done done = std::move(done_);
        done(result);
    }
}
