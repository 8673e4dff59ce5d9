#include "core/readings/StatusFields.h"

#include "params/Cp1252.h"
#include "params/ValueCodec.h"

namespace ctl {

std::string fieldText(const StatusField& field, const ParamTable& table,
                      const StatusReport& status) {
    const int byte = field.byte(status);
    switch (field.kind) {
        case FieldKind::Volts:
            return formatStatusVolts(table.row(field.factorRow), static_cast<std::uint8_t>(byte));
        case FieldKind::Whole:
            return formatTwoDigits(byte);
        case FieldKind::Flags:
            return FormatFlagBits(static_cast<std::uint8_t>(byte));
    }
    return {};
}

std::string fieldName(const StatusField& field) {
    std::string name = cp1252::toUtf8(field.label);
    if (!name.empty() && name.back() == ':') {
        name.pop_back();
    }
    return name;
}

}  // namespace ctl
