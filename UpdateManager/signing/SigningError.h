#pragma once

#include <stdexcept>

namespace Veltora::UpdateManager
{

// A private key that cannot be made, read, written or used; the text says why in one
// line, ready for the user.
class SigningError : public std::runtime_error
{
public:
    using std::runtime_error::runtime_error;
};

} // namespace Veltora::UpdateManager
