#include "archive/base/result_codes.h"

namespace {

struct ResultText {
    int code;
    const char16_t* text;
};

// One place for every code the archive store records.
constexpr ResultText RESULT_TEXTS[] = {
    {RESULT_INVALID_ARCHIVE, u"无效的GRF文件！"},
    {RESULT_BAD_VERSION, u"GRF文件的版本无效！"},
    {RESULT_BAD_LENGTH, u"GRF文件长度有误！"},
    {RESULT_TABLE_SHORT, u"GRF文件头不完整！"},
    {RESULT_BAD_DATA, u"压缩数据有误！"},
    {RESULT_OPEN_FAILED, u"打开文件失败！"},
};

}  // namespace

const char16_t* resultText(int code) {
    for (const auto& entry : RESULT_TEXTS) {
        if (entry.code == code) return entry.text;
    }
    return u"";
}
