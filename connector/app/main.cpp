#include "connector/app/entry_point.h"

int main(int argc, char** argv) {
    return korvane::connector::connector_main(argc, argv);
}
