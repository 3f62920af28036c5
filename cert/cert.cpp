#include "cert/cert.h"

Cert::Cert(const SecContainer &der) : der(der) {}

bool Cert::operator==(const Cert &other) const { return der == other.der; }
