#pragma once
// Push buttons, group boxes and every other button that is no check box or radio button:
// IVirtualControl and the common events alone.

#include "translators/cvirtualcommonbasecontroltranslator.h"

namespace tarnwick {

class CVirtualCommonButtonTranslator : public CVirtualCommonBaseControlTranslator {};

}  // namespace tarnwick
