#pragma once
// What a headless run leaves behind when a signal asked it to end and its main
// thread never got to (stuck in a system call, in a plug-in): a short report
// saying the run was interrupted, and the same words on standard error.
// Prepared on the main thread before the run; written from the exit
// watchdog's thread with plain system calls: nothing allocated, nothing the
// stuck thread may hold, and never a wait of more than a moment.

#include <QString>

#include <string>

namespace corvane {

class InterruptedReport {
public:
    static const QString kError;

    // Main thread. `reportPath` as --report takes it ("-", a file, a pipe or
    // a device; empty for none); `deviceUid` the device asked for, if any.
    InterruptedReport(const QString& reportPath, const QString& deviceUid);

    // Any thread. The report goes where writeReport() would put it: a regular
    // file is replaced whole; a pipe or device is written only when a reader
    // is there, standard output only when it takes the report at once.
    void write() const noexcept;

private:
    enum class Target { None, StandardOutput, InPlace, Replace };
    Target target_ = Target::None;
    std::string path_;
    std::string temporaryPath_;
    std::string json_;
    std::string errorLine_;
};

} // namespace corvane
