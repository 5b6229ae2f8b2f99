// The host stand-in's strings, message records and constants.
#include "adapter/orvelcore.h"

namespace {

// Wide to narrow without the locale: ASCII stays, the rest cannot be told apart
// reliably in an 8-bit code page and becomes '?'.
std::string Narrow(const wchar_t* text) {
    std::string out;
    if (text == nullptr) return out;
    for (const wchar_t* p = text; *p != L'\0'; ++p) {
        const auto code = static_cast<unsigned long>(*p);
        out.push_back(code < 0x80 ? static_cast<char>(code) : '?');
    }
    return out;
}

}  // namespace

KString::KString() = default;

KString::KString(const char* text) : m_text(text != nullptr ? text : "") {}

KString::KString(const wchar_t* text) : m_text(Narrow(text)) {}

KString& KString::operator=(const char* text) {
    m_text = text != nullptr ? text : "";
    return *this;
}

KString& KString::operator=(const KString& other) = default;

KString_const<char> KString::OEM() const { return KString_const<char>(m_text); }

bool ArgumentManager::AddArg(const KString& argument, int kind) {
    m_args.push_back(argument);
    m_kinds.push_back(kind);
    return true;
}

KestrelMessage::KestrelMessage(MessageSeverity severity, int code0, int code1, int code2,
                               int code3, const KString& text0, const KString& text1, bool flag)
    : m_severity(severity),
      m_codes{code0, code1, code2, code3},
      m_texts{text0, text1},
      m_flag(flag) {}

void IMessageManager::AddMessage(KestrelMessage& /*message*/) {}

const KString MessageManagerStrings::kNullStr;

namespace val {
const wchar_t* const kIntrinsicFreq = L"Freq";
}  // namespace val
