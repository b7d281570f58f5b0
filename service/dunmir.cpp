// dunmir, the Quorvel service program. "dunmir add" and "dunmir remove" install and remove the
// service, "dunmir debug" runs it in the foreground, and with no word it runs as the service.

#include "service/service_app.h"

int main(int argc, char* argv[]) { return qv::CServiceApp().Run(argc, argv); }
