// A small evaluator for the expression texts, so that tests check what a
// simulator would compute from them rather than how they are spelled.
//
//   sum := product (('+' | '-') product)*     product := unary (('*' | '/') unary)*
//   unary := '-' unary | power                power := primary ('^' unary)?
//   primary := number | the variable | '(' sum ')'
//
// Numbers are read with std::from_chars, independent of the locale. Any other
// text throws std::invalid_argument naming the position.
#ifndef MATMODEL_TESTS_EXPR_EVAL_H
#define MATMODEL_TESTS_EXPR_EVAL_H

#include <cctype>
#include <charconv>
#include <cmath>
#include <stdexcept>
#include <string>
#include <utility>

class ExpressionEvaluator {
public:
    ExpressionEvaluator(std::string text, std::string variable)
        : m_text(std::move(text)), m_variable(std::move(variable)) {}

    double operator()(double value) {
        m_value = value;
        m_pos = 0;
        const double result = Binary(0);
        if (Peek() != '\0') Fail("unexpected text");
        return result;
    }

private:
    [[noreturn]] void Fail(const char* what) const {
        throw std::invalid_argument(std::string(what) + " at " + std::to_string(m_pos) +
                                    " in: " + m_text);
    }
    char Peek() {
        while (m_pos < m_text.size() && m_text[m_pos] == ' ') ++m_pos;
        return m_pos < m_text.size() ? m_text[m_pos] : '\0';
    }
    bool Accept(char c) {
        if (Peek() != c) return false;
        ++m_pos;
        return true;
    }

    // Level 0 adds and subtracts terms of level 1, which multiplies and divides.
    double Binary(int level) {
        const char* ops = level == 0 ? "+-" : "*/";
        double x = level == 0 ? Binary(1) : Unary();
        for (char op = Peek(); op != '\0' && (op == ops[0] || op == ops[1]); op = Peek()) {
            ++m_pos;
            const double y = level == 0 ? Binary(1) : Unary();
            x = op == '+' ? x + y : op == '-' ? x - y : op == '*' ? x * y : x / y;
        }
        return x;
    }
    double Unary() { return Accept('-') ? -Unary() : Power(); }
    double Power() {
        const double base = Primary();
        return Accept('^') ? std::pow(base, Unary()) : base;
    }
    double Primary() {
        if (Accept('(')) {
            const double x = Binary(0);
            if (!Accept(')')) Fail("missing ')'");
            return x;
        }
        const char c = Peek();
        if (std::isdigit(static_cast<unsigned char>(c)) || c == '.') {
            double x = 0.0;
            const char* first = m_text.data() + m_pos;
            const auto [end, ec] = std::from_chars(first, m_text.data() + m_text.size(), x);
            if (ec != std::errc()) Fail("bad number");
            m_pos += static_cast<std::size_t>(end - first);
            return x;
        }
        if (c != '\0' && !m_variable.empty() &&
            m_text.compare(m_pos, m_variable.size(), m_variable) == 0) {
            m_pos += m_variable.size();
            return m_value;
        }
        Fail(c == '\0' ? "unexpected end" : "unknown name");
    }

    std::string m_text;
    std::string m_variable;
    std::size_t m_pos = 0;
    double m_value = 0.0;
};

#endif  // MATMODEL_TESTS_EXPR_EVAL_H
