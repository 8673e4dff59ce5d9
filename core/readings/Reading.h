// One reading of one controller, as every collector of readings holds it: `metrics` (one of
// each controller at once) and the MQTT publisher (one a second of each).
#pragma once

#include <chrono>
#include <string>

#include "core/texts/StatusText.h"
#include "device/Wire.h"
#include "params/ParamTable.h"

namespace ctl {

// The texts the window shows for a status: the fields and the caption.
struct StatusTexts {
    StatusView view;
    std::string caption;
};

// The texts of `status`, with the table's (the firmware's) factors.
StatusTexts statusTexts(const ParamTable& table, const StatusReport& status);

// What became of a status question.
enum class Answer {
    Ok,
    Silent,  // no answer in time, or the question could not be written
    Lost,    // the controller is gone, or could not be opened
};

struct Reading {
    std::string location;  // where it is plugged (its device path when that is unknown)
    Answer answer = Answer::Silent;
    StatusReport status;  // the answer; nothing below is told of a reading not answered
    StatusTexts texts;    // of the answer, with the factors of its firmware
    std::chrono::system_clock::time_point taken;  // when the question was answered or given up

    bool answered() const { return answer == Answer::Ok; }
};

}  // namespace ctl
