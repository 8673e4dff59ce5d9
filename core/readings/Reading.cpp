#include "core/readings/Reading.h"

namespace ctl {

StatusTexts statusTexts(const ParamTable& table, const StatusReport& status) {
    StatusTexts texts;
    formatStatusFields(table, status, texts.view);
    texts.caption = formatCaption(status);
    return texts;
}

}  // namespace ctl
