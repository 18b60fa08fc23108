package com.varkelund.orbiskapp;

import com.sun.management.HotSpotDiagnosticMXBean;
import java.io.IOException;
import java.lang.management.GarbageCollectorMXBean;
import java.lang.management.ManagementFactory;
import java.lang.management.MemoryUsage;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.nio.file.StandardCopyOption;
import java.util.List;
import javafx.animation.PauseTransition;
import javafx.application.Application;
import javafx.application.ConditionalFeature;
import javafx.application.Platform;
import javafx.scene.Scene;
import javafx.scene.layout.StackPane;
import javafx.scene.paint.Color;
import javafx.scene.shape.Rectangle;
import javafx.stage.Stage;
import javafx.util.Duration;

/**
 * A JavaFX application of one window, "Orbisk", 400 by 300: an amber rectangle of 200 by 100 in
 * the middle of a green field (#F2B33D on #1E6B52), which a test can recognise on the screen.
 * Once the window is shown, it writes what the runtime was started with, and what JavaFX makes of
 * it, to orbisk-report.txt in the working directory. It ends when its window is closed, and by
 * itself a minute after it started, so that it never lingers.
 *
 * <p>The report is UTF-8, one key=value per line; a list is written as NAME.count=N and NAME.0=
 * to NAME.(N-1)=; a property that is not set reads <unset>. In values a backslash, a line feed
 * and a carriage return are written as \\, \n and \r, so each entry stays on its line. The last
 * line is end=1. The report is written under a temporary name and renamed into place, so a reader
 * that finds orbisk-report.txt finds all of it.
 */
public final class Main extends Application {
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

  public static void main(String[] args) {
    launch(args);
  }

  @Override
  public void start(Stage stage) {
    StackPane field = new StackPane(new Rectangle(200, 100, Color.web("#f2b33d")));
    stage.setScene(new Scene(field, 400, 300, Color.web("#1e6b52")));
    stage.setTitle("Orbisk");
    stage.setOnShown(event -> {
      describe(getParameters().getRaw());
      try {
        write(Path.of(REPORT).toAbsolutePath());
      } catch (IOException problem) {
        problem.printStackTrace();
        Platform.exit();
      }
    });
    PauseTransition bound = new PauseTransition(Duration.minutes(1));
    bound.setOnFinished(event -> stage.close());
    bound.play();
    stage.show();
  }

  private void describe(List<String> args) {
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
    put("directory", System.getProperty("user.dir"));
    // Whether the runtime mapped a class-data archive, and which one it was told to map.
    HotSpotDiagnosticMXBean vm = ManagementFactory.getPlatformMXBean(HotSpotDiagnosticMXBean.class);
    for (String option : new String[] {"UseSharedSpaces", "SharedArchiveFile"}) {
      String value;
      try {
        value = vm.getVMOption(option).getValue();
      } catch (IllegalArgumentException absent) {
        value = "<absent>"; // later JDKs no longer have UseSharedSpaces
      }
      put("vm." + option, value);
    }
    put("args.count", args.size());
    put("javafx.touch", Platform.isSupported(ConditionalFeature.INPUT_TOUCH));
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
