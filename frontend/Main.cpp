#include "frontend/FrontEndApp.h"

wxIMPLEMENT_APP(glimmark::FrontEndApp);
