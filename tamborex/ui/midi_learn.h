#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <functional>

#include "platform/learn.h"

class QTimer;
class CEngine;

// One "Learn from MIDI": listens at the engine's MIDI input until the next message is classified
// (then done is called with it), Cancel is called, or ten seconds pass (done with kind None).
// Only one runs at a time per engine; starting another ends the first.
class CMidiLearn final : public QObject {
    Q_OBJECT

  public:
    static constexpr int kTimeoutMs = 10000;
    using Done = std::function<void(const platform::MidiLearnClassifier::Result&)>;

    CMidiLearn(CEngine& engine, QObject* parent);
    ~CMidiLearn() override;

    void Start(Done done);
    void Cancel();
    bool Running() const { return running_; }

  private:
    void Check();
    void Stop();

    CEngine& engine_;
    QTimer* timer_;
    QElapsedTimer clock_;
    platform::MidiLearnClassifier classifier_;
    Done done_;
    bool running_ = false;
};
