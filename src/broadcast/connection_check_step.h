// One step of the connection check and what it found.
#pragma once

#include <QMetaType>
#include <QString>

enum class CheckStep { Resolve, Connect, Server, Mount, Login, ContentType };
inline constexpr int kCheckStepCount = 6;

enum class CheckVerdict { Passed, Failed, Skipped };

// A step's outcome in words for the user: what was found, and what to do about it (empty when
// there is nothing to do).
struct CheckStepResult {
    CheckStep step = CheckStep::Resolve;
    CheckVerdict verdict = CheckVerdict::Skipped;
    QString sentence;
    QString advice;
};
Q_DECLARE_METATYPE(CheckStepResult)

// "Name lookup", "Connection", ... for labels and the command line.
QString checkStepName(CheckStep step);
