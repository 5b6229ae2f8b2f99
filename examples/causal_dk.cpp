// Loads a material file and prints its measured and Kramers-Kronig-corrected Dk.
//   causal_dk examples/laminate.txt
#include <cstdio>
#include <exception>

#include "modeler/MaterialModeler.h"

namespace {
class CausalDk : public MaterialModeler {
public:
    void Print() {
        DoHilbertReconstruction();
        std::printf("%14s %10s %10s %10s\n", "freq_Hz", "Dk", "Df", "Dk_causal");
        for (std::size_t i = 0; i < m_freq.size(); ++i)
            std::printf("%14.6g %10.6f %10.6f %10.6f\n", m_freq[i], m_dk[i], m_df[i],
                        m_dkCausal[i]);
    }
};
}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: causal_dk FILE\n");
        return 2;
    }
    try {
        CausalDk m;
        m.ReadInputFile(argv[1]);
        m.Print();
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s: %s\n", argv[1], e.what());
        return 2;
    }
    return 0;
}
