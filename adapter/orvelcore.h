// orvelcore: a small stand-in for the host application's core services (its
// string, message and argument types, two host constants and the fitting
// interface the host calls). The adapter is written against these declarations;
// in the host they come from the host's own core library, here from this
// target, so that the adapter can be built and tested on its own.
//
// Only what the adapter and its tests need is here. Texts are kept as narrow
// 8-bit strings, and no conversion consults the process locale:
//   - narrow text is kept byte for byte (OEM() returns it unchanged);
//   - wide text is narrowed code point by code point: 0-127 are kept, every
//     other code point becomes '?'.
// ASCII text (all the adapter produces or reads) passes through unchanged.
#ifndef MATMODEL_ADAPTER_ORVELCORE_H
#define MATMODEL_ADAPTER_ORVELCORE_H

#include <array>
#include <string>
#include <utility>
#include <vector>

#if defined(_WIN32) && defined(ORVELCORE_SHARED)
#  if defined(ORVELCORE_BUILDING)
#    define ORVELCORE_API __declspec(dllexport)
#  else
#    define ORVELCORE_API __declspec(dllimport)
#  endif
#elif defined(__GNUC__)
#  define ORVELCORE_API __attribute__((visibility("default")))
#else
#  define ORVELCORE_API
#endif

/// A read-only copy of a host string in the character type T, valid as long as
/// the value lives. Converts to std::basic_string<T>, taking the characters up
/// to the first null.
template <typename T>
class KString_const {
public:
    explicit KString_const(std::basic_string<T> text) : m_text(std::move(text)) {}

    const T* c_str() const { return m_text.c_str(); }
    operator std::basic_string<T>() const { return std::basic_string<T>(m_text.c_str()); }

private:
    std::basic_string<T> m_text;
};

/// The host's string. Built from narrow or wide text; compares by content.
class ORVELCORE_API KString {
public:
    KString();
    // Implicit, as the host's are: callers pass literals where a KString goes.
    KString(const char* text);
    KString(const wchar_t* text);
    KString(const KString& other) = default;
    ~KString() = default;

    KString& operator=(const char* text);
    KString& operator=(const KString& other);

    /// A narrow copy of the text.
    KString_const<char> OEM() const;
    bool IsEmpty() const { return m_text.empty(); }

    friend bool operator==(const KString& a, const KString& b) { return a.m_text == b.m_text; }
    friend bool operator!=(const KString& a, const KString& b) { return !(a == b); }

private:
    std::string m_text;
};

/// Message severity as the host numbers it. The stand-in gives the levels no
/// meaning of its own and carries the value through unchanged.
enum MessageSeverity : int {};

/// The arguments attached to a message, in the order they were added.
class ORVELCORE_API ArgumentManager {
public:
    virtual ~ArgumentManager() = default;

    /// Appends one argument with the host's int that goes with it. Always true.
    bool AddArg(const KString& argument, int kind);

    const std::vector<KString>& Args() const { return m_args; }
    const std::vector<int>& ArgKinds() const { return m_kinds; }

private:
    std::vector<KString> m_args;
    std::vector<int> m_kinds;
};

/// One message record for the host's message manager. Copyable, so that a
/// manager can keep what it is given.
class ORVELCORE_API KestrelMessage : public virtual ArgumentManager {
public:
    KestrelMessage(MessageSeverity severity, int code0, int code1, int code2, int code3,
                   const KString& text0, const KString& text1, bool flag);

    MessageSeverity Severity() const { return m_severity; }
    std::array<int, 4> Codes() const { return m_codes; }
    const std::array<KString, 2>& Texts() const { return m_texts; }
    bool Flag() const { return m_flag; }

private:
    MessageSeverity m_severity;
    std::array<int, 4> m_codes;
    std::array<KString, 2> m_texts;
    bool m_flag;
};

/// The host's message sink. Every operation does nothing by default, so that a
/// test can derive a recording manager by overriding AddMessage alone.
class ORVELCORE_API IMessageManager {
public:
    virtual void BeginMessageGroup() {}
    virtual void EndMessageGroup() {}
    virtual void AddMessage(KestrelMessage& message);
    virtual ~IMessageManager() = default;
};

/// Host strings with a fixed meaning.
struct ORVELCORE_API MessageManagerStrings {
    /// The host's null string (empty in the stand-in).
    static const KString kNullStr;
};

namespace val {
/// The host's name of its intrinsic frequency variable, in hertz.
ORVELCORE_API extern const wchar_t* const kIntrinsicFreq;
}  // namespace val

/// What the host asks of a frequency-dependent material fitter: a multi-pole
/// Debye model of sampled (frequency in Hz, Dk, Df) data, as two expression
/// texts in the host's frequency variable or as the fitted curves at the input
/// frequencies. Both return true when the outputs hold a result.
class ORVELCORE_API IMatFreqDependentFittingAlgorithm {
public:
    virtual bool GetMultiPoleDebyeFittedExpr(const std::vector<double>& freq,
                                             const std::vector<double>& dk,
                                             const std::vector<double>& df, KString& dkExpr,
                                             KString& dfExpr) const = 0;
    virtual bool GetMultiPoleDebyeFittedData(const std::vector<double>& freq,
                                             const std::vector<double>& dk,
                                             const std::vector<double>& df,
                                             std::vector<double>& fittedFreq,
                                             std::vector<double>& fittedDk,
                                             std::vector<double>& fittedDf) const = 0;

protected:
    // Not virtual, as in the host: implementations are never deleted through
    // this interface, and the protected destructor makes sure of it.
    IMatFreqDependentFittingAlgorithm() = default;
    IMatFreqDependentFittingAlgorithm(const IMatFreqDependentFittingAlgorithm&) = default;
    IMatFreqDependentFittingAlgorithm& operator=(const IMatFreqDependentFittingAlgorithm&) =
        default;
    ~IMatFreqDependentFittingAlgorithm() = default;
};

#endif  // MATMODEL_ADAPTER_ORVELCORE_H
