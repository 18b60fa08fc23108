package com.varkelund.orbiskapp;

import java.io.IOException;
import java.lang.management.GarbageCollectorMXBean;
import java.lang.management.ManagementFactory;
import java.lang.management.MemoryUsage;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.nio.file.StandardCopyOption;
import java.util.List;

/**
 * Writes what the runtime was started with to orbisk-report.txt in the working directory, then
 * exits 0. The report is UTF-8, one key=value per line; a list is written as NAME.count=N and
 * NAME.0= to NAME.(N-1)=; a property that is not set reads <unset>. In values a backslash, a line
 * feed and a carriage return are written as \\, \n and \r, so each entry stays on its line. The
 * last line is end=1. The report is written under a temporary name and renamed into place, so a
 * reader that finds orbisk-report.txt finds all of it.
 */
public final class Main {
  private static final String REPORT = "orbisk-report.txt";
  private static final String[] PROPERTIES = {
    "prism.order",
    "com.sun.javafx.isEmbedded",
    "com.sun.javafx.touch",
    "com.sun.javafx.virtualKeyboard",
    "jdk.module.main",
    "jdk.module.main.class",
  };

  private final StringBuilder report = new StringBuilder();

  public static void main(String[] args) throws IOException {
    Main main = new Main();
    main.describe(args);
    main.write(Path.of(REPORT).toAbsolutePath());
  }

  private void describe(String[] args) {
    for (String name : PROPERTIES) {
      String value = System.getProperty(name);
      put("property." + name, value == null ? "<unset>" : value);
    }
    List<GarbageCollectorMXBean> collectors = ManagementFactory.getGarbageCollectorMXBeans();
    put("gc.count", collectors.size());
    for (int i = 0; i < collectors.size(); ++i) put("gc." + i, collectors.get(i).getName());
    MemoryUsage heap = ManagementFactory.getMemoryMXBean().getHeapMemoryUsage();
    put("heap.max", Runtime.getRuntime().maxMemory());
    put("heap.usage.max", heap.getMax());
    put("heap.init", heap.getInit());
    put("module", Main.class.getModule().getName());
    put("class", Main.class.getName());
    put("args.count", args.length);
    List<String> input = ManagementFactory.getRuntimeMXBean().getInputArguments();
    put("input.count", input.size());
    for (int i = 0; i < input.size(); ++i) put("input." + i, input.get(i));
    put("end", 1);
  }

  private void put(String key, Object value) {
    String text = String.valueOf(value);
    text = text.replace("\\", "\\\\").replace("\n", "\\n").replace("\r", "\\r");
    report.append(key).append('=').append(text).append('\n');
  }

  private void write(Path target) throws IOException {
    // Named after the process, so that runtimes started together in one folder never share it.
    Path partial = target.resolveSibling(REPORT + "." + ProcessHandle.current().pid() + ".partial");
    try {
      Files.writeString(partial, report, StandardCharsets.UTF_8);
      Files.move(partial, target, StandardCopyOption.ATOMIC_MOVE,
                 StandardCopyOption.REPLACE_EXISTING);
    } finally {
      Files.deleteIfExists(partial);
    }
  }
}
