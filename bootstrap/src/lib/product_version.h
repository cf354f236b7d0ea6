/* Product name and version: the one place they are written. Plain preprocessor
   definitions, because the resource compiler reads this header as well. */
#ifndef VANTREL_PRODUCT_VERSION_H
#define VANTREL_PRODUCT_VERSION_H

#define VANTREL_VERSION_MAJOR 0
#define VANTREL_VERSION_MINOR 1
#define VANTREL_VERSION_PATCH 17

#define VANTREL_STRINGIZE_(x) #x
#define VANTREL_STRINGIZE(x) VANTREL_STRINGIZE_(x)

/* "0.1.17" */
#define VANTREL_VERSION_TEXT                 \
    VANTREL_STRINGIZE(VANTREL_VERSION_MAJOR) \
    "." VANTREL_STRINGIZE(VANTREL_VERSION_MINOR) "." VANTREL_STRINGIZE(VANTREL_VERSION_PATCH)

#define VANTREL_PRODUCT_NAME "Orvanis Launcher Setup"
#define VANTREL_COMPANY_NAME "Orvanis"

#endif
