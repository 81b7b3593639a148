#include "connector/app/entry_point.h"

int main(int argc, char** argv) {
    // The publisher's update key is fixed when the program is configured; nothing at run time
    // can replace it.
    return korvane::connector::connector_main(argc, argv, KORVANE_UPDATE_PUBLIC_KEY);
}
