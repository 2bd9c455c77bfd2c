#include "util/WinsockInit.hpp"

namespace norvane::abap::util {

WinsockInit::~WinsockInit() {
    release();
}

void WinsockInit::acquire() noexcept {
    if (count_.fetch_add(1) == 0) {
        result_.exchange(service_.startup());
    }
}

void WinsockInit::release() noexcept {
    if (count_.fetch_sub(1) == 1) {
        service_.cleanup();
    }
}

}  // namespace norvane::abap::util
