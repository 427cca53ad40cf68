// One-time start of the XML library for the whole process.
#pragma once

namespace zel::cml {

// Initialises the XML library exactly once per process, whichever thread calls first; later
// calls return at once. The library is never terminated: parsers and documents held in
// static objects may outlive any point at which termination could be placed.
void XmlInit();

}  // namespace zel::cml
