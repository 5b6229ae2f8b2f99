// polerat entry points.
#include "fitting/polerat.h"

void polerat_cleanup(polerat_data*& record) {
    delete record;
    record = nullptr;
}
