// The library's own std::string is compiled with exceptions and would bring the
// unwinder and the C runtime into the driver; instantiated here, it is built without
// them like the rest of the driver.
#include <string>

template class std::basic_string<char>;
