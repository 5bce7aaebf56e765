/* version.h: the version resource of QUORLIX.dll, read by the resource compiler
 * and by the tests that check what a host reads back. Preprocessor definitions
 * only, so that both the resource compiler and C compilers accept it. */
#ifndef QUORLIX_VERSION_H
#define QUORLIX_VERSION_H

/* Fixed file and product version 1.0.0.1. These numbers and strings are literal and
 * do not follow the product version in CMakeLists.txt: Windows hosts read them to
 * recognise the DLL, and they have always read exactly these. */
#define QUORLIX_VERSION_MAJOR 1
#define QUORLIX_VERSION_MINOR 0
#define QUORLIX_VERSION_BUILD 0
#define QUORLIX_VERSION_REVISION 1
#define QUORLIX_VERSION_NUMBERS 1, 0, 0, 1

/* US English, Unicode code page 1200; the string table's block name spells both. */
#define QUORLIX_VERSION_LANGUAGE 0x0409
#define QUORLIX_VERSION_CODE_PAGE 1200
#define QUORLIX_VERSION_BLOCK "040904B0"

/* The string table. The file version string differs from the fixed file version
 * on purpose: hosts have always read "1, 0, 0, 3" here. */
#define QUORLIX_COMPANY_NAME ""
#define QUORLIX_FILE_DESCRIPTION "QUORLIX DLL"
#define QUORLIX_FILE_VERSION_TEXT "1, 0, 0, 3"
#define QUORLIX_INTERNAL_NAME "QUORLIX"
#define QUORLIX_ORIGINAL_FILENAME "QUORLIX.DLL"
#define QUORLIX_PRODUCT_NAME "QUORLIX Dynamic Link Library"
#define QUORLIX_PRODUCT_VERSION_TEXT "1, 0, 0, 1"

#endif /* QUORLIX_VERSION_H */
