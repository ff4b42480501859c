// SPDX-License-Identifier: GPL-3.0-or-later
// The reference reading of value patterns, for the dialect comparison test:
// java.util.regex itself. Reads lines from standard input, every text as
// hexadecimal UTF-16 code units (four digits each):
//   P <pattern>    a pattern; answered "A <groups>" or "R <reason>"
//   S <subject>    a subject for the last accepted pattern; answered
//                  "N" (no match), "E <reason>" or "M" followed by one field
//                  per group from 0: "-" for a group that did not take part,
//                  otherwise "'" and the text.
// Run as a single source file: java PatternReference.java
import java.io.BufferedReader;
import java.io.InputStreamReader;
import java.io.PrintStream;
import java.nio.charset.StandardCharsets;
import java.util.regex.Matcher;
import java.util.regex.Pattern;
import java.util.regex.PatternSyntaxException;

public class PatternReference {
    static String decode(String hex) {
        StringBuilder b = new StringBuilder();
        for (int i = 0; i + 4 <= hex.length(); i += 4)
            b.append((char) Integer.parseInt(hex.substring(i, i + 4), 16));
        return b.toString();
    }

    static String encode(String text) {
        StringBuilder b = new StringBuilder();
        for (int i = 0; i < text.length(); i++)
            b.append(String.format("%04x", (int) text.charAt(i)));
        return b.toString();
    }

    public static void main(String[] args) throws Exception {
        BufferedReader in = new BufferedReader(new InputStreamReader(System.in, StandardCharsets.US_ASCII));
        PrintStream out = new PrintStream(System.out, false, "US-ASCII");
        Pattern pattern = null;
        String line;
        while ((line = in.readLine()) != null) {
            String text = decode(line.length() > 2 ? line.substring(2) : "");
            if (line.startsWith("P")) {
                try {
                    pattern = Pattern.compile(text);
                    out.println("A " + pattern.matcher("").groupCount());
                } catch (PatternSyntaxException e) {
                    pattern = null;
                    out.println("R " + e.getDescription());
                }
            } else if (pattern == null) {
                out.println("E no pattern");
            } else {
                try {
                    Matcher m = pattern.matcher(text);
                    if (!m.find()) {
                        out.println("N");
                        continue;
                    }
                    StringBuilder b = new StringBuilder("M");
                    for (int g = 0; g <= m.groupCount(); g++)
                        b.append(m.group(g) == null ? " -" : " '" + encode(m.group(g)));
                    out.println(b);
                } catch (RuntimeException | StackOverflowError e) {
                    out.println("E " + e);
                }
            }
        }
        out.flush();
    }
}
