#include "shell/OffEventLoop.h"

namespace offloop {

QThreadPool &blockingPool()
{
    static QThreadPool *pool = [] {
        auto *p = new QThreadPool; // never destroyed: a hung thread must not hold up the exit
        p->setMaxThreadCount(4);
        p->setExpiryTimeout(-1); // an idle thread waits without waking up
        return p;
    }();
    return *pool;
}

} // namespace offloop
