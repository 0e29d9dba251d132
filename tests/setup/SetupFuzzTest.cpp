// Setups from damaged or hostile files: a few thousand mutations of a valid
// setup (bytes changed or cut; values of the wrong type; numbers past any
// range) go to the reader and, when read, to a manager. Each must end in a
// setup or a message: a crash or an exception fails the run. One seed, so a
// failure comes back the same.
#include "setup/EngineSetup.h"
#include "setup/SetupFile.h"
#include "tests/engine/VirtualRig.h"
#include "tests/support/LogCapture.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <gtest/gtest.h>

#include <random>

using namespace corvane;

namespace {

class Mutations {
public:
    explicit Mutations(QByteArray valid) : valid_(std::move(valid)) {}

    QByteArray next() {
        switch (below(5)) {
        case 0:
            return flipped();
        case 1:
            return valid_.left(below(int(valid_.size())));
        case 2:
            return withHugeNumber();
        default:
            return withWrongType();
        }
    }

private:
    int below(int n) { return n <= 0 ? 0 : std::uniform_int_distribution<int>(0, n - 1)(random_); }

    QByteArray flipped() {
        QByteArray bytes = valid_;
        for (int i = below(8); i >= 0; --i)
            bytes[below(int(bytes.size()))] = char(below(256));
        return bytes;
    }

    QByteArray withHugeNumber() {
        static const QByteArray numbers[] = {"1e308", "-1e308", "1e400", "4294967296", "-2147483649",
                                             "123456789012345678901234567890", "9007199254740993", "0.5", "-0"};
        QByteArray bytes = valid_;
        // Each number of the document in turn has a chance to be replaced.
        for (qsizetype at = 0; at < bytes.size(); ++at) {
            if (bytes[at] < '0' || bytes[at] > '9' || below(4) != 0)
                continue;
            qsizetype end = at;
            while (end < bytes.size() && bytes[end] >= '0' && bytes[end] <= '9')
                ++end;
            const QByteArray number = numbers[below(int(std::size(numbers)))];
            bytes.replace(at, end - at, number);
            at += number.size();
        }
        return bytes;
    }

    QJsonValue anyValue() {
        switch (below(9)) {
        case 0:
            return QJsonValue();
        case 1:
            return below(2) == 0;
        case 2:
            return std::ldexp(1.0, below(2100) - 1050) * (below(2) ? 1 : -1);
        case 3:
            return QString();
        case 4:
            return QString(below(100000), QChar(below(0xd7ff) + 1));
        case 5:
            return QJsonArray{1, "2", QJsonValue()};
        case 6:
            return QJsonObject{{"uri", 3}, {"strip", "one"}};
        case 7:
            return below(20) - 5;
        default:
            return QStringLiteral("urn:corvane:test:gain");
        }
    }

    // A value somewhere in the document, or a key added, of any type.
    QJsonValue replaced(const QJsonValue& value) {
        if (value.isObject() && below(4) != 0) {
            QJsonObject object = value.toObject();
            const QStringList keys = object.keys();
            const QString key = keys.isEmpty() || below(6) == 0 ? QStringLiteral("extra") : keys[below(int(keys.size()))];
            object[key] = replaced(object.value(key));
            return object;
        }
        if (value.isArray() && !value.toArray().isEmpty() && below(4) != 0) {
            QJsonArray array = value.toArray();
            const int i = below(int(array.size()));
            array[i] = replaced(array[i]);
            return array;
        }
        return anyValue();
    }

    QByteArray withWrongType() {
        const QJsonValue document = replaced(QJsonDocument::fromJson(valid_).object());
        if (!document.isObject())
            return QJsonDocument(QJsonArray{document}).toJson();
        return QJsonDocument(document.toObject()).toJson(below(2) ? QJsonDocument::Compact : QJsonDocument::Indented);
    }

    QByteArray valid_;
    std::mt19937 random_{20240611};
};

QByteArray validSetup() {
    corvane::Setup setup;
    setup.deviceUid = QStringLiteral("virtual:default");
    setup.deviceName = QStringLiteral("Virtual Audio Device");
    setup.sampleRate = 48000;
    setup.bufferFrames = 256;
    setup.strips[0] = {0, false, 1, true,
                       corvane::Setup::Plugin{"urn:corvane:test:gain", "Fixture Gain",
                                              "<urn:corvane:effect-state> a pset:Preset ; lv2:appliesTo "
                                              "<urn:corvane:test:gain> ; lv2:port [ lv2:symbol \"gain\" ; "
                                              "pset:value 0.5 ] ."},
                       true};
    setup.strips[3] = {6, true, 2, false, std::nullopt, false};
    return serializeSetup(setup);
}

} // namespace

TEST(SetupFuzz, DamagedSetupsEndInASetupOrAMessage) {
    test::VirtualRig rig;
    test::LogCapture quiet; // thousands of notes on what was ignored or dropped
    Mutations mutations(validSetup());
    int read = 0;
    for (int i = 0; i < 2000; ++i) {
        const QByteArray bytes = mutations.next();
        std::variant<ReadSetup, SetupReadError> result;
        ASSERT_NO_THROW(result = parseSetup(bytes)) << bytes.toStdString();
        if (const auto* error = std::get_if<SetupReadError>(&result)) {
            EXPECT_FALSE(error->message.isEmpty()) << bytes.toStdString();
            continue;
        }
        ++read;
        ASSERT_NO_THROW(applySetup(*rig.manager, std::get<ReadSetup>(result))) << bytes.toStdString();
    }
    // Enough of them were setups still for the manager to be tried too.
    EXPECT_GT(read, 100);
}
