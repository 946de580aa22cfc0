#pragma once
// The JDK 1.1 initialisation record. Current jni.h no longer declares it, but runtimes still fill
// its javaStackSize from JNI_GetDefaultJavaVMInitArgs when asked with version 1.1.

#include <jni.h>

#include <cstdarg>
#include <cstdio>

namespace qn {

struct Jdk11InitArgs {
    jint version;
    char** properties;
    jint checkSource;
    jint nativeStackSize;
    jint javaStackSize;
    jint minHeapSize;
    jint maxHeapSize;
    jint verifyMode;
    char* classpath;
    jint(JNICALL* vfprintf)(FILE* fp, const char* format, va_list args);
    void(JNICALL* exit)(jint code);
    void(JNICALL* abort)();
    jint enableClassGC;
    jint enableVerboseGC;
    jint disableAsyncGC;
    jint verbose;
    jboolean debugging;
    jint debugPort;
};

}  // namespace qn
