// A small XML reader for the tests: enough to say whether an SVG document is
// well-formed and to look at its elements. It checks nesting, quoting of
// attributes, unique attribute names, entity references and a single root;
// it does not read DTDs (the documents here have none).
#ifndef MATMODEL_TESTS_XML_CHECK_H
#define MATMODEL_TESTS_XML_CHECK_H

#include <cstddef>
#include <functional>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

struct XmlElement {
    std::string name;
    std::map<std::string, std::string> attributes;  // entity references kept as written
    std::string text;                               // character data directly inside
    std::vector<std::unique_ptr<XmlElement>> children;

    std::string Attr(const std::string& key) const {
        const auto it = attributes.find(key);
        return it == attributes.end() ? std::string() : it->second;
    }

    // Every element below this one (not itself) for which `match` holds.
    std::vector<const XmlElement*> FindAll(
        const std::function<bool(const XmlElement&)>& match) const {
        std::vector<const XmlElement*> out;
        for (const auto& c : children) {
            if (match(*c)) out.push_back(c.get());
            const auto below = c->FindAll(match);
            out.insert(out.end(), below.begin(), below.end());
        }
        return out;
    }
};

// Parses `text`; throws std::runtime_error naming the offset of the first fault.
class XmlReader {
public:
    static std::unique_ptr<XmlElement> Parse(const std::string& text) {
        XmlReader r(text);
        return r.Document();
    }

private:
    explicit XmlReader(const std::string& text) : m_s(text) {}

    [[noreturn]] void Fail(const std::string& what) const {
        throw std::runtime_error("XML: " + what + " at offset " + std::to_string(m_p));
    }
    bool At(const char* lit) const { return m_s.compare(m_p, std::char_traits<char>::length(lit), lit) == 0; }
    void Expect(const char* lit) {
        if (!At(lit)) Fail(std::string("expected '") + lit + "'");
        m_p += std::char_traits<char>::length(lit);
    }
    void SkipSpace() {
        while (m_p < m_s.size() && (m_s[m_p] == ' ' || m_s[m_p] == '\n' || m_s[m_p] == '\t' || m_s[m_p] == '\r')) ++m_p;
    }
    void SkipPast(const char* lit) {
        const std::size_t e = m_s.find(lit, m_p);
        if (e == std::string::npos) Fail(std::string("unterminated, no '") + lit + "'");
        m_p = e + std::char_traits<char>::length(lit);
    }
    // Comments, processing instructions and blanks between elements.
    void SkipMisc() {
        for (;;) {
            SkipSpace();
            if (At("<!--")) SkipPast("-->");
            else if (At("<?")) SkipPast("?>");
            else return;
        }
    }
    static bool NameChar(char c, bool first) {
        const bool alpha = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_' || c == ':';
        return alpha || (!first && ((c >= '0' && c <= '9') || c == '-' || c == '.'));
    }
    std::string Name() {
        const std::size_t start = m_p;
        if (m_p >= m_s.size() || !NameChar(m_s[m_p], true)) Fail("expected a name");
        while (m_p < m_s.size() && NameChar(m_s[m_p], false)) ++m_p;
        return m_s.substr(start, m_p - start);
    }
    // Character data or an attribute value: '<' is not allowed, '&' must start
    // a known entity or a character reference.
    void CheckText(const std::string& t, bool attribute) {
        for (std::size_t i = 0; i < t.size(); ++i) {
            if (t[i] == '<') Fail("'<' in " + std::string(attribute ? "an attribute" : "text"));
            if (t[i] != '&') continue;
            const std::size_t semi = t.find(';', i);
            if (semi == std::string::npos) Fail("unterminated entity");
            const std::string ent = t.substr(i + 1, semi - i - 1);
            const bool known = ent == "amp" || ent == "lt" || ent == "gt" || ent == "quot" ||
                               ent == "apos" || (ent.size() > 1 && ent[0] == '#');
            if (!known) Fail("unknown entity &" + ent + ";");
        }
    }
    std::unique_ptr<XmlElement> Element() {
        Expect("<");
        auto e = std::make_unique<XmlElement>();
        e->name = Name();
        for (;;) {
            SkipSpace();
            if (At("/>")) {
                m_p += 2;
                return e;
            }
            if (At(">")) {
                ++m_p;
                break;
            }
            const std::string key = Name();
            SkipSpace();
            Expect("=");
            SkipSpace();
            const char q = m_p < m_s.size() ? m_s[m_p] : '\0';
            if (q != '"' && q != '\'') Fail("unquoted attribute value");
            const std::size_t end = m_s.find(q, m_p + 1);
            if (end == std::string::npos) Fail("unterminated attribute value");
            const std::string value = m_s.substr(m_p + 1, end - m_p - 1);
            CheckText(value, true);
            if (!e->attributes.emplace(key, value).second) Fail("duplicate attribute " + key);
            m_p = end + 1;
        }
        for (;;) {
            const std::size_t lt = m_s.find('<', m_p);
            if (lt == std::string::npos) Fail("unclosed element <" + e->name + ">");
            const std::string text = m_s.substr(m_p, lt - m_p);
            CheckText(text, false);
            e->text += text;
            m_p = lt;
            if (At("</")) {
                m_p += 2;
                if (Name() != e->name) Fail("mismatched end tag for <" + e->name + ">");
                SkipSpace();
                Expect(">");
                return e;
            }
            if (At("<!--")) SkipPast("-->");
            else if (At("<?")) SkipPast("?>");
            else e->children.push_back(Element());
        }
    }
    std::unique_ptr<XmlElement> Document() {
        SkipMisc();
        auto root = Element();
        SkipMisc();
        if (m_p != m_s.size()) Fail("content after the root element");
        return root;
    }

    const std::string& m_s;
    std::size_t m_p = 0;
};

#endif  // MATMODEL_TESTS_XML_CHECK_H
