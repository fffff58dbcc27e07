#pragma once
// The Portuguese reason a connection failed, shared by the plain and the TLS transport so both
// name a failure alike.
#include "rtl/SysUtils.h"

#include <boost/system/error_code.hpp>

String TransportReason(const boost::system::error_code& ec);
