package com.example.hello;

import java.lang.management.ManagementFactory;

/** The example application: shows what the launcher gave it. */
public final class Hello {
    private static final long MIB = 1024 * 1024;

    public static void main(String[] args) {
        System.out.println("Hello from " + Hello.class.getName());

        StringBuilder words = new StringBuilder();
        for (String arg : args) words.append(" [").append(arg).append(']');
        System.out.println("  arguments (" + args.length + "):" + words);

        System.out.println("  runtime:    " + System.getProperty("java.vm.name") + " "
                + System.getProperty("java.version"));
        System.out.println("  java.home   " + System.getProperty("java.home"));
        System.out.println("  QN_JVM_HOME " + System.getenv("QN_JVM_HOME"));
        System.out.println("  -Dhello.runtime=%QN_JVM_HOME% became " + System.getProperty("hello.runtime"));

        long physical = ((com.sun.management.OperatingSystemMXBean) ManagementFactory.getOperatingSystemMXBean())
                .getTotalPhysicalMemorySize();
        long heap = Runtime.getRuntime().maxMemory();
        System.out.printf("  heap limit: %d MiB of %d MiB physical memory (%.1f %%; the ini asks for -Xmx25P)%n",
                heap / MIB, physical / MIB, 100.0 * heap / physical);
    }
}
