/* Forced into every LittleCMS object (tools/build-lcms2.sh): the C library
 * functions the library calls are renamed to the project's own
 * (platform/lcms_runtime.cpp), so the plug-ins link no C runtime and every
 * build, native or Windows, computes the same numbers. The system headers
 * come first, so their declarations keep their names; only the library's
 * calls are renamed. */
#ifndef PSD_LCMS2_RUNTIME_H
#define PSD_LCMS2_RUNTIME_H

#include <ctype.h>
#include <math.h>
#include <stdarg.h>
#include <stddef.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

#define PSD_LCMS_RENAME(name) psd_lcms_##name

#define PSD_LCMS_FUNCTIONS(X)                                              \
  X(double, floor, (double))                                               \
  X(double, ceil, (double))                                                \
  X(double, sqrt, (double))                                                \
  X(float, sqrtf, (float))                                                 \
  X(double, pow, (double, double))                                         \
  X(double, exp, (double))                                                 \
  X(double, log, (double))                                                 \
  X(double, log10, (double))                                               \
  X(double, sin, (double))                                                 \
  X(double, cos, (double))                                                 \
  X(double, atan, (double))                                                \
  X(double, atan2, (double, double))                                       \
  X(double, fabs, (double))                                                \
  X(int, abs, (int))                                                       \
  X(void*, malloc, (size_t))                                               \
  X(void*, realloc, (void*, size_t))                                       \
  X(void, free, (void*))                                                   \
  X(char*, strcpy, (char*, const char*))                                   \
  X(char*, strncpy, (char*, const char*, size_t))                          \
  X(char*, strcat, (char*, const char*))                                   \
  X(char*, strchr, (const char*, int))                                     \
  X(char*, strrchr, (const char*, int))                                    \
  X(size_t, strspn, (const char*, const char*))                            \
  X(int, atoi, (const char*))                                              \
  X(int, toupper, (int))                                                   \
  X(int, isdigit, (int))                                                   \
  X(int, isxdigit, (int))                                                  \
  X(int, isalpha, (int))                                                   \
  X(int, isalnum, (int))                                                   \
  X(int, sscanf, (const char*, const char*, ...))                          \
  X(int, snprintf, (char*, size_t, const char*, ...))                      \
  X(int, vsnprintf, (char*, size_t, const char*, va_list))                 \
  X(FILE*, fopen, (const char*, const char*))                              \
  X(int, fclose, (FILE*))                                                  \
  X(size_t, fread, (void*, size_t, size_t, FILE*))                         \
  X(size_t, fwrite, (const void*, size_t, size_t, FILE*))                  \
  X(int, fseek, (FILE*, long, int))                                        \
  X(long, ftell, (FILE*))                                                  \
  X(int, fgetc, (FILE*))                                                   \
  X(int, feof, (FILE*))                                                    \
  X(int, remove, (const char*))                                            \
  X(time_t, time, (time_t*))                                               \
  X(struct tm*, gmtime, (const time_t*))                                   \
  X(char*, ctime, (const time_t*))

#ifndef PSD_LCMS_KEEP_NAMES
#ifdef __cplusplus
extern "C" {
#endif
#define PSD_LCMS_DECLARE(type, name, args) type PSD_LCMS_RENAME(name) args;
PSD_LCMS_FUNCTIONS(PSD_LCMS_DECLARE)
#undef PSD_LCMS_DECLARE
#ifdef __cplusplus
}
#endif

/* The ctype functions may be macros of the system's headers. */
#undef toupper
#undef isdigit
#undef isxdigit
#undef isalpha
#undef isalnum
#undef getc
#undef fgetc

#define floor psd_lcms_floor
#define ceil psd_lcms_ceil
#define sqrt psd_lcms_sqrt
#define sqrtf psd_lcms_sqrtf
#define pow psd_lcms_pow
#define exp psd_lcms_exp
#define log psd_lcms_log
#define log10 psd_lcms_log10
#define sin psd_lcms_sin
#define cos psd_lcms_cos
#define atan psd_lcms_atan
#define atan2 psd_lcms_atan2
#define fabs psd_lcms_fabs
#define abs psd_lcms_abs
#define malloc psd_lcms_malloc
#define realloc psd_lcms_realloc
#define free psd_lcms_free
#define strcpy psd_lcms_strcpy
#define strncpy psd_lcms_strncpy
#define strcat psd_lcms_strcat
#define strchr psd_lcms_strchr
#define strrchr psd_lcms_strrchr
#define strspn psd_lcms_strspn
#define atoi psd_lcms_atoi
#define toupper psd_lcms_toupper
#define isdigit psd_lcms_isdigit
#define isxdigit psd_lcms_isxdigit
#define isalpha psd_lcms_isalpha
#define isalnum psd_lcms_isalnum
#define sscanf psd_lcms_sscanf
#define snprintf psd_lcms_snprintf
#define vsnprintf psd_lcms_vsnprintf
#define fopen psd_lcms_fopen
#define fclose psd_lcms_fclose
#define fread psd_lcms_fread
#define fwrite psd_lcms_fwrite
#define fseek psd_lcms_fseek
#define ftell psd_lcms_ftell
#define fgetc psd_lcms_fgetc
#define getc psd_lcms_fgetc
#define feof psd_lcms_feof
#define remove psd_lcms_remove
#define time psd_lcms_time
#define gmtime psd_lcms_gmtime
#define ctime psd_lcms_ctime
#endif /* PSD_LCMS_KEEP_NAMES */

#endif /* PSD_LCMS2_RUNTIME_H */
