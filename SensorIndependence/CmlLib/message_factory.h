// The request and response factories: which class reads a request or response element of a
// parsed envelope, chosen by the element's name. Each table is the one place that maps names
// to classes; a new message class adds one row.
#pragma once

#include <memory>
#include <string_view>

#include "SensorIndependence/CmlLib/message_base.h"

namespace zel::cml {

// A default-constructed object of the class that reads the request element `tagName`; a
// generic CCmlRequest (which keeps the name it reads) for a name without a class of its own.
std::unique_ptr<CCmlRequest> CreateRequest(std::u16string_view tagName);

// The same for response elements; a generic CCmlResponse for other names.
std::unique_ptr<CCmlResponse> CreateResponse(std::u16string_view tagName);

}  // namespace zel::cml
