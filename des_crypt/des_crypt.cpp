#include "des_crypt/des_crypt.h"

std::string DesCrypt(std::string_view, std::string_view salt) { return std::string(salt.substr(0, 2)) + "...........";}
