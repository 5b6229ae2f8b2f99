// ReadInputFile on arbitrary bytes. Beyond surviving them, the reader must
// take the same samples as the C library's "%le%le%le" conversion would, the
// format the files are written for, and apply the same checks and Df floor.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>
#include <string>
#include <vector>

#include "fuzz_support.h"

namespace {

// One temporary file per process, rewritten for every input.
const std::string& TempPath() {
    static const std::string path = [] {
        const char* dir = std::getenv("TMPDIR");
        std::string pattern = std::string(dir && *dir ? dir : "/tmp") + "/matmodel-fuzz-XXXXXX";
        std::vector<char> name(pattern.begin(), pattern.end());
        name.push_back('\0');
        const int fd = mkstemp(name.data());
        if (fd < 0) fuzz::Fail("cannot create a temporary file", pattern);
        close(fd);
        std::string made(name.data());
        static std::string forRemoval = made;
        std::atexit([] { std::remove(forRemoval.c_str()); });
        return made;
    }();
    return path;
}

struct Triple {
    double freq, dk, df;
};

// The triples a "%le%le%le" loop reads from the file, in order.
std::vector<Triple> ReferenceTriples(const std::string& path) {
    std::vector<Triple> out;
    std::FILE* f = std::fopen(path.c_str(), "r");
    if (f == nullptr) fuzz::Fail("cannot reopen the temporary file", path);
    for (;;) {
        Triple t{};
        if (std::fscanf(f, "%le%le%le", &t.freq, &t.dk, &t.df) != 3) break;
        out.push_back(t);
        if (std::feof(f)) break;
    }
    std::fclose(f);
    return out;
}

bool IsDigit(std::uint8_t c) { return c >= '0' && c <= '9'; }

std::uint8_t Lower(std::uint8_t c) { return c >= 'A' && c <= 'Z' ? c + ('a' - 'A') : c; }

// Whether `data` at i continues with `word` (case-insensitively) for exactly
// `count` characters.
bool Continues(const std::uint8_t* data, std::size_t size, std::size_t i, const char* word,
               std::size_t count) {
    for (std::size_t k = 0; k < count; ++k)
        if (i + k >= size || Lower(data[i + k]) != static_cast<std::uint8_t>(word[k])) return false;
    return true;
}

// Where scanf and strtod part ways. scanf takes the longest text that could
// start a number and fails when it does not complete one, where strtod reads
// the number that the text does hold: "infin" (a cut "infinity"), "0x" with
// no hex digit, an exponent marker with no digit ("3e+" or "0xbp", which the C
// library's scanf even reads as 3, swallowing the marker). And the C library's
// scanf stops a "nan(...)" before its parenthesis, which strtod and the C
// standard take as part of the number. The modeler reads all of these as
// strtod does; such inputs are not compared.
bool HasScanfOnlyForms(const std::uint8_t* data, std::size_t size) {
    for (std::size_t i = 0; i < size; ++i) {
        const std::uint8_t c = data[i];
        const std::uint8_t e = i + 1 < size ? Lower(data[i + 1]) : 0;
        const bool hexLetter = Lower(c) >= 'a' && Lower(c) <= 'f';
        if ((IsDigit(c) || c == '.' || (hexLetter && e == 'p')) && (e == 'e' || e == 'p')) {
            std::size_t j = i + 2;
            if (j < size && (data[j] == '+' || data[j] == '-')) ++j;
            if (j >= size || !IsDigit(data[j])) return true;
        }
        if (c == '0' && e == 'x') {
            std::size_t j = i + 2;
            if (j < size && data[j] == '.') ++j;
            const bool hexDigit = j < size && (IsDigit(data[j]) || (Lower(data[j]) >= 'a' &&
                                                                     Lower(data[j]) <= 'f'));
            if (!hexDigit) return true;
        }
        if (Continues(data, size, i, "inf", 3) && Continues(data, size, i + 3, "i", 1) &&
            !Continues(data, size, i, "infinity", 8))
            return true;
        if (Continues(data, size, i, "nan(", 4)) return true;
    }
    return false;
}

const char* const kMessages[] = {
    "Frequency must be non-negative.",
    "Relative permittivity (Dk) values must not be less than 1.",
    "Loss tangent (Df) values must be non-negative.",
};

// What the reader must store from the reference triples: each one checked in
// the documented order, the first failure ending the read with its sentence.
void Expected(const std::vector<Triple>& triples, std::vector<Triple>& stored,
              std::string& failure) {
    for (Triple t : triples) {
        if (t.freq < 0.0) {
            failure = kMessages[0];
            return;
        }
        if (t.dk < 1.0) {
            failure = kMessages[1];
            return;
        }
        if (t.df < 0.0) {
            failure = kMessages[2];
            return;
        }
        if (t.df < 1e-5) t.df = 1e-5;
        stored.push_back(t);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string& path = TempPath();
    {
        std::FILE* f = std::fopen(path.c_str(), "wb");
        if (f == nullptr) fuzz::Fail("cannot write the temporary file", path);
        if (size > 0 && std::fwrite(data, 1, size, f) != size) fuzz::Fail("short write", path);
        std::fclose(f);
    }

    fuzz::Inspect m;
    std::string failure;
    try {
        m.ReadInputFile(path.c_str());
    } catch (const std::runtime_error& e) {
        failure = e.what();
    }
    fuzz::CheckEqualLengths(m);

    if (HasScanfOnlyForms(data, size)) return 0;
    std::vector<Triple> expected;
    std::string expectedFailure;
    Expected(ReferenceTriples(path), expected, expectedFailure);
    fuzz::Require(failure == expectedFailure, "reader failure differs from the reference",
                  "'" + failure + "' vs '" + expectedFailure + "'");
    fuzz::Require(m.Freq().size() == expected.size(), "reader kept a different number of samples",
                  std::to_string(m.Freq().size()) + " vs " + std::to_string(expected.size()));
    for (std::size_t i = 0; i < expected.size(); ++i) {
        const std::string where = "sample " + std::to_string(i) + ": " + fuzz::Num(m.Freq()[i]) +
                                  " " + fuzz::Num(m.Dk()[i]) + " " + fuzz::Num(m.Df()[i]) +
                                  " vs " + fuzz::Num(expected[i].freq) + " " +
                                  fuzz::Num(expected[i].dk) + " " + fuzz::Num(expected[i].df);
        fuzz::Require(fuzz::Same(m.Freq()[i], expected[i].freq) &&
                          fuzz::Same(m.Dk()[i], expected[i].dk) &&
                          fuzz::Same(m.Df()[i], expected[i].df),
                      "reader value differs from the reference", where);
    }
    return 0;
}
