#include "SensorIndependence/CmlLib/xml_init.h"

#include <mutex>

#include <xercesc/util/PlatformUtils.hpp>

namespace zel::cml {

void XmlInit() {
    static std::once_flag once;
    std::call_once(once, [] { xercesc::XMLPlatformUtils::Initialize(); });
}

}  // namespace zel::cml
