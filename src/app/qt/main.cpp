#include "app/qt/VantroApp.h"

int main(int argc, char** argv) {
    return vantro::app::theApp.InitInstance(argc, argv);
}
