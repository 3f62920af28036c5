// PEM text to DER, for certificate and CRL files given in either form.
#pragma once

#include "channel/container.h"

// The DER re-encoding of the first PEM certificate (plain or trusted form) in
// text; false when there is none.
bool PemCertToDer(const SecContainer &text, SecContainer &der);
// The DER re-encoding of the first PEM CRL in text; false when there is none.
bool PemCrlToDer(const SecContainer &text, SecContainer &der);
