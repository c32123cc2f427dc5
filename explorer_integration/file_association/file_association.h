#ifndef FILE_ASSOCIATION_H
#define FILE_ASSOCIATION_H

// The association library, loaded with the helper: makes a program
// identifier the handler of a file extension for the current user, or, with
// the empty identifier, takes the editor's association back.

#if defined(_WIN32)
#  define FILE_ASSOCIATION_CALL __stdcall
#  if defined(FILE_ASSOCIATION_PLAIN_EXPORT)
#    define FILE_ASSOCIATION_API __declspec(dllexport)
#  elif defined(FILE_ASSOCIATION_BUILD)
#    define FILE_ASSOCIATION_API // exported by file_association.def, by its decorated name only
#  else
#    define FILE_ASSOCIATION_API __declspec(dllimport)
#  endif
#else
#  define FILE_ASSOCIATION_CALL
#  define FILE_ASSOCIATION_API __attribute__((visibility("default")))
#endif

// Both arguments are NUL-terminated UTF-16 strings: the extension with its
// dot, then the program identifier. Returns 0 when the registry refused the
// change, else 1.
extern "C" FILE_ASSOCIATION_API int FILE_ASSOCIATION_CALL
SetFileAssociation(const char16_t *extension, const char16_t *programId);

#endif // FILE_ASSOCIATION_H
