// The table of status fields: what a new row could get wrong, and the JSON every reader of a
// status shares.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <set>
#include <string>
#include <vector>

#include "core/readings/StatusFields.h"
#include "core/readings/StatusJson.h"

namespace {

using ctl::FieldKind;
using ctl::STATUS_FIELDS;
using ctl::StatusField;

TEST(StatusFields, EachRowHasKeysTextsAndSeriesOfItsOwn) {
    // The JSON's own keys, and each field's key with its KEYText beside it.
    std::set<std::string> keys{"caption", "firmware", "mode", "time"};
    std::set<std::string> labels;
    std::vector<std::string StatusView::*> texts;  // member pointers have no order
    std::set<std::string> series;                  // family and label value
    for (const StatusField& field : STATUS_FIELDS) {
        SCOPED_TRACE(field.key);
        EXPECT_TRUE(keys.insert(field.key).second);
        EXPECT_TRUE(keys.insert(std::string(field.key) + "Text").second);
        EXPECT_TRUE(labels.insert(ctl::fieldName(field)).second);
        EXPECT_EQ(std::ranges::find(texts, field.text), texts.end()) << "two fields in one text";
        texts.push_back(field.text);
        if (field.kind == FieldKind::Volts) {
            EXPECT_GE(field.factorRow, 0);
            EXPECT_LT(field.factorRow, PARAM_ROW_COUNT);
        }
        EXPECT_EQ(field.stateClass != nullptr, field.deviceClass != nullptr);
        ASSERT_NE(field.metric, nullptr);
        // A family of several fields tells them apart by its label; one of one has none.
        EXPECT_EQ(field.metric->label != nullptr, field.series != nullptr);
        EXPECT_TRUE(series
                        .insert(std::string(field.metric->name) + "/" +
                                (field.series != nullptr ? field.series : ""))
                        .second);
    }
}

TEST(StatusFields, TheJsonHoldsEveryFieldInTheTablesOrderWithItsNumber) {
    StatusReport status;
    status.inputVoltage = 250;
    status.temperature = -10;
    status.state = 5;
    status.outputFlags = 0xA5;
    status.version = 0x21;
    ParamTable table;
    table.applyFirmwareVersion(status.version);
    const ctl::StatusTexts texts = ctl::statusTexts(table, status);
    const nlohmann::ordered_json json = ctl::statusJson(status, texts, {"T", true});
    auto item = json.items().begin();
    for (const char* key : {"caption", "firmware", "mode", "time"}) {
        ASSERT_EQ(item.key(), key);
        ++item;
    }
    for (const StatusField& field : STATUS_FIELDS) {
        SCOPED_TRACE(field.key);
        const std::string& text = texts.view.*field.text;
        ASSERT_EQ(item.key(), field.key);
        if (field.kind == FieldKind::Volts) {
            EXPECT_EQ(item.value(), std::strtod(text.c_str(), nullptr));
        } else {
            EXPECT_EQ(item.value(), field.byte(status));
        }
        ++item;
        ASSERT_EQ(item.key(), std::string(field.key) + "Text");
        EXPECT_EQ(item.value(), text);
        ++item;
    }
    EXPECT_EQ(item, json.items().end());
    // The signed bytes stay signed; the flags are the byte, its bits the text.
    EXPECT_EQ(json["temperature"], -10);
    EXPECT_EQ(json["temperatureText"], "-10");
    EXPECT_EQ(json["outputFlags"], 0xA5);
    EXPECT_EQ(json["outputFlagsText"], "10100101");
}

}  // namespace
