#include "app/StringTable.h"

#include "app/Resource.h"

std::string loadStringResource(int id) {
    switch (id) {
        case IDS_ABOUTBOX:
            return STR_ABOUTBOX;
        case IDP_SOCKETS_INIT_FAILED:
            return STR_SOCKETS_INIT_FAILED;
        default:
            return {};
    }
}
