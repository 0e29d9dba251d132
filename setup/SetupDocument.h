#pragma once
// The setup's JSON document: the one place that knows its layout.
//
// {"format": "1.0",
//  "device": {"uid": "...", "name": "..."},
//  "sampleRate": 48000, "bufferFrames": 256,        (either may be null)
//  "strips": [{"strip": 1, "input": 1, "inputStereo": false,
//              "output": 1, "outputStereo": false, "bypass": false,
//              "plugin": {"uri": "...", "name": "...", "state": "<Turtle>"}}],
//  "midi": [{"strip": 1, "parameter": "gain",        (null: the ON/OFF switch)
//            "source": "cc", "number": 7, "channel": null,  ("note"; null: any)
//            "mode": "latching", "inverted": false}]}     ("momentary")
//
// Strips and channels count from 1; a channel of null (or left out) is unset,
// a strip left out is a fresh one. Any thread.

#include "engine/Setup.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <variant>

namespace corvane {

// The document's version: a reader takes any minor version of its own major
// one (it ignores what it does not know) and refuses a newer major.
constexpr int kSetupFormatMajor = 1;
constexpr int kSetupFormatMinor = 1;

struct SetupReadError {
    QString message;
};

struct ReadSetup {
    Setup setup;
    // Keys this version does not know (a newer minor version may add some);
    // ignored, and named here so that the reader can say so.
    QStringList ignoredKeys;
};

// The whole document checked before anything is taken from it: either every
// value is usable, or the first problem found, said so that a person can fix it.
std::variant<ReadSetup, SetupReadError> parseSetup(const QByteArray& json);

// What reading decided for the reader to hear: the entries it ignored, a few by
// name. Empty when it took everything.
QStringList readingNotes(const ReadSetup& read);

// Every strip is written, so the file reads as the window shows it.
QByteArray serializeSetup(const Setup& setup);

} // namespace corvane
