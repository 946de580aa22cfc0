// Machine-dependent JNI definitions for the Windows builds (mingw-w64, 32 and 64 bit).
#ifndef QN_JNI_MD_H
#define QN_JNI_MD_H

#define JNIEXPORT __declspec(dllexport)
#define JNIIMPORT __declspec(dllimport)
#define JNICALL __stdcall

typedef long jint;
typedef long long jlong;
typedef signed char jbyte;

#endif
