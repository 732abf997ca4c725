#include "app/application.h"
#include "app/unit1.h"

int main(int argc, char** argv) {
  TApplication application(argc, argv);
  PrepareApplication();
  TForm1 Form1;
  Form1.show();
  return TApplication::exec();
}
