// Construction, copying and destruction of MaterialModeler, and its constants.
#include "modeler/MaterialModeler.h"

#include "fitting/constants.h"

const double MaterialModeler::TwoPi = matmodel::kTwoPi;
const double MaterialModeler::Pi = 3.141592653589793;
// Written as a 16-digit literal on purpose: the single-point model depends on
// this exact double, two units in the last place above the nearest to pi/2.
const double MaterialModeler::HalfPi = 1.570796326794897;
const double MaterialModeler::E0 = matmodel::kE0;

MaterialModeler::MaterialModeler() : m_fitterData(nullptr), m_doHilbert(true) {}

MaterialModeler::MaterialModeler(const MaterialModeler& other)
    : m_fitterData(nullptr), m_doHilbert(true) {
    Copy(other);
}

MaterialModeler& MaterialModeler::operator=(const MaterialModeler& other) {
    // Copying onto itself would release the record before copying it.
    if (this != &other) Copy(other);
    return *this;
}

MaterialModeler::~MaterialModeler() {
    if (m_fitterData != nullptr) polerat_cleanup(m_fitterData);
    m_fitterData = nullptr;
}

void MaterialModeler::Copy(const MaterialModeler& other) {
    m_dk = other.m_dk;
    m_dkCausal = other.m_dkCausal;
    m_df = other.m_df;
    m_dfCausal = other.m_dfCausal;
    m_freq = other.m_freq;
    m_doHilbert = other.m_doHilbert;

    if (m_fitterData != nullptr) {
        polerat_cleanup(m_fitterData);
        m_fitterData = nullptr;
    }
    if (other.m_fitterData != nullptr) {
        m_fitterData = new polerat_data();
        m_fitterData->pole_re = other.m_fitterData->pole_re;
        m_fitterData->pole_im = other.m_fitterData->pole_im;
        m_fitterData->b = other.m_fitterData->b;
        m_fitterData->c = other.m_fitterData->c;
        m_fitterData->d = other.m_fitterData->d;
    }
}
