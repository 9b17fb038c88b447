#pragma once
// Direct connections (no proxy) to loopback services with short time-outs.
#include "net/HttpTransport.h"

namespace vextal::test {

inline void UseDirectHttp(long requestTimeoutSeconds = 30)
{
    HttpConfig c;
    c.noProxy = "*";
    c.connectTimeoutSeconds = 5;
    c.requestTimeoutSeconds = requestTimeoutSeconds;
    SetHttpConfig(c);
}

}  // namespace vextal::test
