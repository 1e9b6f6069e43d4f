#include "log_cases.hpp"

#include <string_view>

namespace sift_runlog::testing_support {

namespace {

using namespace std::string_literals;

std::string problem_report(std::string_view message) {
  return "sift_runlog: SIFT_RUNLOG.ANALYSIS_PROBLEM_ERROR: sift_runlog:" + std::string(message) +
         "\n";
}

const std::string misplaced =
    "PROBLEM with the location of directives FORMULA_NAME (after RH_START)\n";
const std::string table_full = "PROBLEM, too many referenced techniques\n";

// The worked state-space run: tool velox, 4 cores, four figures with two techniques.
const std::string velox_run =
    "# Executing tool velox\n"
    "# Number of cores : 4\n"
    "RH_START\n"
    "STATE_SPACE STATES 1024 TECHNIQUES TECH_A TECH_B\n"
    "STATE_SPACE TRANSITIONS 5000 TECHNIQUES TECH_A TECH_B\n"
    "STATE_SPACE MAX_TOKEN_IN_PLACE 1 TECHNIQUES TECH_A TECH_B\n"
    "STATE_SPACE MAX_TOKEN_PER_MARKING 3 TECHNIQUES TECH_A TECH_B\n"
    "RH_STOP\n";

std::string numbered(std::string_view stem, int count, std::string_view before = "",
                     std::string_view after = "\n") {
  std::string text;
  for (int i = 1; i <= count; ++i) {
    text.append(before).append(stem).append(std::to_string(i)).append(after);
  }
  return text;
}

std::string repeated(std::string_view text, int count) {
  std::string result;
  for (int i = 0; i < count; ++i) result.append(text);
  return result;
}

constexpr std::size_t piece = 16384;
const std::string bad_run = "NO_CORE,OK,OK,BAD_RUN?,-\n";

// A core-count line of exactly `length` bytes whose value is ones ending in a two, so that the
// cores field shows where the line was cut.
std::string cores_line(std::size_t length) {
  const std::string head = "# Number of cores : ";
  return head + std::string(length - head.size() - 1, '1') + "2";
}

std::string with_crlf(std::string_view text) {
  std::string result;
  for (const char c : text) {
    if (c == '\n') result += '\r';
    result += c;
  }
  return result;
}

const std::string velox_run_without_one_technique =
    "# Executing tool velox\n"
    "# Number of cores : 4\n"
    "RH_START\n"
    "STATE_SPACE STATES 1024 TECHNIQUES TECH_A TECH_B\n"
    "STATE_SPACE TRANSITIONS 5000 TECHNIQUES TECH_A TECH_B\n"
    "STATE_SPACE MAX_TOKEN_IN_PLACE 1\n"
    "STATE_SPACE MAX_TOKEN_PER_MARKING 3 TECHNIQUES TECH_A TECH_B\n"
    "RH_STOP\n";

std::vector<log_case> make_cases() {
  // Eight bytes before the first piece boundary, then a line that is a core-count line only
  // from the boundary on. Kept from a fuzzing run, in which the debug mode lost that line.
  const std::string cut_cores_line =
      std::string(piece - 8, 'x') + "\xff\xff\xff\xff\xff\\\xce#" + " Number of cores : ";
  const std::string long_line =
      std::string(piece, 'x') + "RH_START " + std::string(piece - 9, 'y') + std::string(7232, 'z');
  return {
      // The result line, row by row of the verdict.
      {"velox state space run", "run.log", velox_run,
       "4,OK,OK,4 NUM:1024 NUM:5000 NUM:1 NUM:3,TECH_A TECH_B \n"},
      {"key STATE counts for velox", "run.log",
       "# Executing tool velox\n# Number of cores : 4\nRH_START\n"
       "STATE_SPACE STATE 1024 TECHNIQUES TECH_A TECH_B\n"
       "STATE_SPACE TRANSITIONS 5000 TECHNIQUES TECH_A\n"
       "STATE_SPACE MAX_TOKEN_IN_PLACE 1\n"
       "STATE_SPACE MAX_TOKEN_PER_MARKING 3 TECHNIQUES TECH_B\nRH_STOP\n",
       "4,OK,OK,4 NUM:1024 NUM:5000 NUM:1 NUM:3,TECH_A TECH_B \n"},
      {"key STATE counts for no other tool", "run.log",
       "# Executing tool other\n# Number of cores : 4\nRH_START\n"
       "STATE_SPACE STATE 1024 TECHNIQUES TECH_A TECH_B\n"
       "STATE_SPACE TRANSITIONS 5000\nSTATE_SPACE MAX_TOKEN_IN_PLACE 1\n"
       "STATE_SPACE MAX_TOKEN_PER_MARKING 3\nRH_STOP\n",
       "4,OK,OK,4 NUM:? NUM:5000 NUM:1 NUM:3,TECH_A TECH_B \n"},
      {"state space without STATES and without a tool line is a data error", "run.log",
       "# Number of cores : 4\nRH_START\nSTATE_SPACE TRANSITIONS 5000\nRH_STOP\n",
       "4,OK,OK,ERROR,-\n"},
      {"state space data error keeps the long-mode fields", "-long a_b_c_d.log",
       "# Number of cores : 4\nSTATE_SPACE TRANSITIONS 5000\n", "a,b,c,d.log,4,OK,OK,ERROR,-\n"},
      {"Boolean formulas, one without an answer", "run.log",
       "# Number of cores : 4\n"
       "FORMULA_NAME Model-Formula-01\nFORMULA_NAME Model-Formula-02\nFORMULA_NAME "
       "Model-Formula-03\n"
       "BOOL_VECTOR\nRH_START\n"
       "FORMULA Model-Formula-01 TRUE TECHNIQUES TECH_A\n"
       "FORMULA Model-Formula-02 FALSE\nRH_STOP\n",
       "4,OK,OK,3 BOOL:TRUE BOOL:FALSE BOOL:?,TECH_A \n"},
      {"numeric formulas after the time confinement", "run.log",
       "FORMULA_NAME Model-Formula-01\nFORMULA_NAME Model-Formula-02\nRH_START\n"
       "FORMULA Model-Formula-01 12\nRH_TIME_CONFINEMENT_REACHED\n",
       "NO_CORE,DNF,OK,2 NUM:12 NUM:?,-\n"},
      {"worked Boolean run", "run.log",
       "FORMULA_NAME Model-Formula-01\nFORMULA_NAME Model-Formula-02\nBOOL_VECTOR\nRH_START\n"
       "FORMULA Model-Formula-01 TRUE TECHNIQUES TECH_A\nRH_STOP\n",
       "NO_CORE,OK,OK,2 BOOL:TRUE BOOL:?,TECH_A \n"},
      {"started and stopped without an answer, out of memory", "run.log",
       "# Number of cores : 8\nRH_START\nCan't allocate memory\nRH_STOP\n", "8,OK,MOVF,CC,-\n"},
      {"started, timed out, never stopped", "run.log",
       "# Number of cores : 8\nRH_START\nRH_TIME_CONFINEMENT_REACHED\n", "8,DNF,OK,DNF,-\n"},
      {"never started", "run.log", "# Number of cores : 8\nsome chatter\n", "8,OK,OK,BAD_RUN?,-\n"},
      {"stopped but never started", "run.log", "RH_STOP\n", "NO_CORE,OK,OK,BAD_RUN?,-\n"},
      {"do not compete wins over answers", "run.log",
       velox_run.substr(0, velox_run.size() - 8) + "DO_NOT_COMPETE\nRH_STOP\n", "4,OK,OK,DNC,-\n"},
      {"do not compete in long mode", "-long logs/run7/alpha_beta_gamma_delta_rest.out",
       "# Number of cores : 8\nDO_NOT_COMPETE\n", "alpha,beta,gamma,delta,8,OK,OK,DNC,-\n"},
      {"formula answers win over cannot compute", "run.log",
       "FORMULA_NAME Model-Formula-01\nRH_START\nCANNOT_COMPUTE\nFORMULA Model-Formula-01 7\n"
       "RH_STOP\n",
       "NO_CORE,OK,OK,1 NUM:7,-\n"},
      {"cannot compute wins over the state space", "run.log",
       "RH_START\nSTATE_SPACE STATES 12\nCANNOT_COMPUTE\nRH_STOP\n", "NO_CORE,OK,OK,CC,-\n"},
      {"cannot compute with flags", "run.log",
       "RH_START\nCANNOT_COMPUTE\nRH_TIME_CONFINEMENT_REACHED\n", "NO_CORE,DNF,OK,CC,-\n"},
      {"the locale warning means cannot compute", "run.log",
       "perl: warning: Setting locale failed.\n", "NO_CORE,OK,OK,CC,-\n"},
      {"the locale warning with a blank after it is ignored", "run.log",
       "perl: warning: Setting locale failed. \n", "NO_CORE,OK,OK,BAD_RUN?,-\n"},
      {"empty log", "run.log", "", "NO_CORE,OK,OK,BAD_RUN?,-\n"},
      {"log of line feeds only", "run.log", "\n\n\n", "NO_CORE,OK,OK,BAD_RUN?,-\n"},

      // The obvious faults of the vector form, mended.
      {"repeated formula names count once", "run.log",
       "FORMULA_NAME A\nFORMULA_NAME B\nFORMULA_NAME A\nRH_START\nFORMULA A 1\nFORMULA B 2 "
       "TECHNIQUES T\nRH_STOP\n",
       "NO_CORE,OK,OK,2 NUM:1 NUM:2,T \n"},
      {"answers without declared formulas give the count 0", "run.log",
       "# Number of cores : 4\nRH_START\nFORMULA Model-Formula-01 TRUE TECHNIQUES "
       "TECH_A\nRH_STOP\n",
       "4,OK,OK,0,TECH_A \n"},
      {"a formula name shorter than the refusal suffix is an ordinary name", "run.log",
       "NUM_VECTOR\nFORMULA_NAME F1\nRH_START\nFORMULA F1 12 TECHNIQUES X\nRH_STOP\n",
       "NO_CORE,OK,OK,1 NUM:12,X \n"},
      {"short formula name with a Boolean answer", "run.log",
       "FORMULA_NAME F1\nBOOL_VECTOR\nRH_START\nFORMULA F1 TRUE\nRH_STOP\n",
       "NO_CORE,OK,OK,1 BOOL:TRUE,-\n"},

      // The scan: what ends it, what a line is, the order of the tests.
      {"nothing after RH_STOP is read", "run.log",
       "RH_START\nRH_STOP\nCan't allocate memory\nRH_TIME_CONFINEMENT_REACHED\nDO_NOT_COMPETE\n",
       "NO_CORE,OK,OK,CC,-\n"},
      {"lines after the time confinement are read", "run.log",
       "RH_START\nRH_TIME_CONFINEMENT_REACHED\nCan't allocate memory\n",
       "NO_CORE,DNF,MOVF,DNF,-\n"},
      {"a blank before RH_START hides it", "run.log", " RH_START\nRH_STOP\n",
       "NO_CORE,OK,OK,BAD_RUN?,-\n"},
      {"a blank after RH_START does not", "run.log", "RH_START \nRH_STOP\n",
       "NO_CORE,OK,OK,CC,-\n"},
      {"a carriage return is part of the line", "run.log",
       "RH_START\nRH_STOP\r\nCan't allocate memory\n", "NO_CORE,OK,MOVF,DNF,-\n"},
      {"CR LF line ends hide every marker", "run.log", "RH_START\r\nRH_STOP\r\n",
       "NO_CORE,OK,OK,BAD_RUN?,-\n"},
      {"last line without a line feed is read", "run.log", "RH_START\nRH_STOP",
       "NO_CORE,OK,OK,CC,-\n"},
      {"NUL bytes are ordinary bytes", "run.log", "\0\0\0\nRH_START\0\nRH_\0STOP\n"s,
       "NO_CORE,OK,OK,BAD_RUN?,-\n"},
      {"bytes above 0x7f are ordinary bytes", "run.log",
       "\xff\xfe\x80 \xc3\x28 Out of memory\nRH_START\n", "NO_CORE,OK,MOVF,DNF,-\n"},
      {"a tab is part of a word", "run.log", "RH_START\t\nRH_START\tx\n",
       "NO_CORE,OK,OK,BAD_RUN?,-\n"},
      {"Out of memory whatever words 1, 2 and 4 are", "run.log", "x y Out z memory\n",
       "NO_CORE,OK,MOVF,BAD_RUN?,-\n"},
      {"Out of memory needs a fifth word", "run.log", "x y Out memory\n",
       "NO_CORE,OK,OK,BAD_RUN?,-\n"},
      {"Out of memory with words after the fifth", "run.log",
       "GC overhead: Out of memory while exploring\n", "NO_CORE,OK,MOVF,BAD_RUN?,-\n"},
      {"Can't allocate memory must be the whole line", "run.log",
       "Can't allocate memory \n Can't allocate memory\n", "NO_CORE,OK,OK,BAD_RUN?,-\n"},
      {"Insufficient memory as words 7 and 8", "run.log", "1 2 3 4 5 6 Insufficient memory\n",
       "NO_CORE,OK,MOVF,BAD_RUN?,-\n"},
      {"Insufficient memory as words 6 and 7 is ignored", "run.log",
       "1 2 3 4 5 Insufficient memory\n", "NO_CORE,OK,OK,BAD_RUN?,-\n"},
      {"bad_alloc as word 8", "run.log",
       "terminate called after throwing an instance of 'std::bad_alloc'\n",
       "NO_CORE,OK,MOVF,BAD_RUN?,-\n"},
      {"bad_alloc as word 8 of 9", "run.log", "1 2 3 4 5 6 7 'std::bad_alloc' what()\n",
       "NO_CORE,OK,MOVF,BAD_RUN?,-\n"},
      {"bad_alloc as word 7 of 7 is ignored", "run.log", "1 2 3 4 5 6 'std::bad_alloc'\n",
       "NO_CORE,OK,OK,BAD_RUN?,-\n"},
      {"the tool line of 4 words sets the tool whatever word 1 is", "run.log",
       "RH_START Executing tool velox\nSTATE_SPACE STATE 9\n",
       "NO_CORE,OK,OK,4 NUM:9 NUM:? NUM:? NUM:?,-\n"},
      {"the tool line with a blank in front has 4 words", "run.log",
       " Executing tool velox\nSTATE_SPACE STATE 9\n",
       "NO_CORE,OK,OK,4 NUM:9 NUM:? NUM:? NUM:?,-\n"},
      {"the tool line with a blank after it is ignored", "run.log",
       "# Executing tool velox \nSTATE_SPACE STATE 9\n", "NO_CORE,OK,OK,ERROR,-\n"},
      {"the later tool line wins", "run.log",
       "# Executing tool velox\n# Executing tool other\nSTATE_SPACE STATE 9\n",
       "NO_CORE,OK,OK,4 NUM:? NUM:? NUM:? NUM:?,-\n"},
      {"a line of 4 words that is a tool line is no state space", "run.log",
       "STATE_SPACE Executing tool x\nRH_START\nRH_STOP\n", "NO_CORE,OK,OK,CC,-\n"},
      {"a memory signature wins over FORMULA", "run.log", "FORMULA a b c d e f 'std::bad_alloc'\n",
       "NO_CORE,OK,MOVF,BAD_RUN?,-\n"},
      {"core count that is not a number", "run.log", "# Number of cores : many\n",
       "many,OK,OK,BAD_RUN?,-\n"},
      {"the later core count wins", "run.log", "# Number of cores : 4\n# Number of cores : 16\n",
       "16,OK,OK,BAD_RUN?,-\n"},
      {"a core count line of 7 words is ignored", "run.log", "# Number of cores : 4 x\n",
       "NO_CORE,OK,OK,BAD_RUN?,-\n"},
      {"an empty core count gives an empty field", "run.log", "# Number of cores : \n",
       ",OK,OK,BAD_RUN?,-\n"},
      {"a line beginning with TECHNIQUES is ignored", "run.log", "TECHNIQUES A B\nRH_START\n",
       "NO_CORE,OK,OK,DNF,-\n"},
      {"a long line comes in pieces of 16384 bytes", "run.log", long_line + "\n",
       "NO_CORE,OK,OK,DNF,-\n"},
      {"a marker cut by the piece boundary is not seen", "run.log",
       std::string(16380, 'x') + "RH_START\n", "NO_CORE,OK,OK,BAD_RUN?,-\n"},

      // Debug traces.
      {"debug traces every line up to RH_STOP", "run.log -debug",
       "# Number of cores : 2\n\nRH_START\nRH_STOP\nnever read\n",
       "lu # Number of cores : 2\nlu \nlu RH_START\nlu RH_STOP\nprinting line\n2,OK,OK,CC,-\n"},
      {"debug on an empty log", "run.log -debug", "", "printing line\nNO_CORE,OK,OK,BAD_RUN?,-\n"},
      {"debug traces the exact bytes", "run.log -debug", "a\r\0\tb \n"s,
       "lu a\r\0\tb \nprinting line\nNO_CORE,OK,OK,BAD_RUN?,-\n"s},
      {"debug traces the pieces of a long line", "run.log -debug", long_line + "\n",
       "lu " + long_line.substr(0, 16384) + "\nlu " + long_line.substr(16384, 16384) + "\nlu " +
           long_line.substr(32768) + "\nprinting line\nNO_CORE,OK,OK,DNF,-\n"},
      {"debug traces stay before a data error", "run.log -debug",
       "STATE_SPACE STATES 1\nSTATE_SPACE STATES 2\nSTATE_SPACE STATES 3\n"
       "STATE_SPACE STATES 4\nSTATE_SPACE STATES 5\n",
       "lu STATE_SPACE STATES 1\nlu STATE_SPACE STATES 2\nlu STATE_SPACE STATES 3\n"
       "lu STATE_SPACE STATES 4\nlu STATE_SPACE STATES 5\nERROR,-\n"},

      // Long mode.
      {"long mode keeps the first four parts", "-long x_y_z_w_v_u", "RH_START\n",
       "x,y,z,w,NO_CORE,OK,OK,DNF,-\n"},
      {"long mode: runs of _ make one cut", "-long a__b_c_d.log", "",
       "a,b,c,d.log,NO_CORE,OK,OK,BAD_RUN?,-\n"},
      {"long mode: a leading _ gives an empty field", "-long _a_b_c", "",
       ",a,b,c,NO_CORE,OK,OK,BAD_RUN?,-\n"},
      {"long mode: three parts end in the problem line", "-long a_b_c.log", "",
       "a,b,c.log,Problem with file a_b_c.log,-\n"},
      {"long mode: the problem line names the file argument", "-long x", "",
       "x,Problem with file x,-\n"},
      {"long mode: only the last / part counts", "-long d_i_r/p_q_r_s", "",
       "p,q,r,s,NO_CORE,OK,OK,BAD_RUN?,-\n"},
      {"long mode with debug", "-long a_b_c_d -debug", "RH_START\n",
       "lu RH_START\nprinting line\na,b,c,d,NO_CORE,OK,OK,DNF,-\n"},
      {"long mode: a data error in the scan comes alone", "-long a_b_c_d",
       "STATE_SPACE STATES 1\nSTATE_SPACE STATES 2\nSTATE_SPACE STATES 3\n"
       "STATE_SPACE STATES 4\nSTATE_SPACE STATES 5\n",
       "ERROR,-\n"},
      {"-long -debug analyses a file named -debug with both options", "-long -debug", "RH_START\n",
       "lu RH_START\nprinting line\n-debug,Problem with file -debug,-\n"},

      // STATE_SPACE.
      {"state space cannot compute", "run.log", "RH_START\nSTATE_SPACE CANNOT_COMPUTE\nRH_STOP\n",
       "NO_CORE,OK,OK,CC,-\n"},
      {"five state space refusals are no error", "run.log",
       repeated("STATE_SPACE CANNOT_COMPUTE\n", 5), "NO_CORE,OK,OK,CC,-\n"},
      {"a figure the tool cannot compute has no value and no techniques", "run.log",
       "# Executing tool t\nSTATE_SPACE STATES 10 TECHNIQUES A\n"
       "STATE_SPACE TRANSITIONS CANNOT_COMPUTE TECHNIQUES X\n",
       "NO_CORE,OK,OK,4 NUM:10 NUM:? NUM:? NUM:?,A \n"},
      {"inf is stored as written and techniques are taken once", "run.log",
       "STATE_SPACE STATES inf TECHNIQUES A B A\n",
       "NO_CORE,OK,OK,4 NUM:inf NUM:? NUM:? NUM:?,A B \n"},
      {"numbers are stored as written", "run.log",
       "STATE_SPACE STATES 2.5E+06\nSTATE_SPACE TRANSITIONS -3\nSTATE_SPACE MAX_TOKEN_IN_PLACE "
       "1_000\n"
       "STATE_SPACE MAX_TOKEN_PER_MARKING 16#FF#\n",
       "NO_CORE,OK,OK,4 NUM:2.5E+06 NUM:-3 NUM:1_000 NUM:16#FF#,-\n"},
      {"a value that is no number stores ? and drops its techniques", "run.log",
       "STATE_SPACE STATES 12abc TECHNIQUES A\nSTATE_SPACE TRANSITIONS Inf TECHNIQUES B\n"
       "STATE_SPACE MAX_TOKEN_IN_PLACE 3 TECHNIQUES C\n",
       "NO_CORE,OK,OK,4 NUM:? NUM:? NUM:3 NUM:?,C \n"},
      {"an empty value is no number", "run.log", "STATE_SPACE STATES \n",
       "NO_CORE,OK,OK,4 NUM:? NUM:? NUM:? NUM:?,-\n"},
      {"state space of two words", "run.log", "STATE_SPACE STATES\n",
       "Problem with file run.log,-\n"},
      {"state space of one word", "run.log", "RH_START\nSTATE_SPACE\n",
       "Problem with file run.log,-\n"},
      {"a fifth state space figure is a data error", "run.log",
       "STATE_SPACE STATES 1\nSTATE_SPACE STATES 2\nSTATE_SPACE STATES 3\n"
       "STATE_SPACE STATES 4\nSTATE_SPACE STATES x\n",
       "ERROR,-\n"},
      {"a refusal uses a position too", "run.log",
       "STATE_SPACE CANNOT_COMPUTE\nSTATE_SPACE STATES 2\nSTATE_SPACE STATES 3\n"
       "STATE_SPACE STATES 4\nSTATE_SPACE STATES 5\n",
       "ERROR,-\n"},
      {"a state space refusal gives CC whatever figures were given", "run.log",
       "STATE_SPACE CANNOT_COMPUTE\nSTATE_SPACE STATES 2\nSTATE_SPACE STATES 3\n",
       "NO_CORE,OK,OK,CC,-\n"},

      // Declarations and FORMULA.
      {"FORMULA_NAME after RH_START", "run.log", "RH_START\nFORMULA_NAME A\n", misplaced, 1,
       problem_report("242")},
      {"NUM_VECTOR after RH_START", "run.log", "RH_START\nNUM_VECTOR\n", misplaced, 1,
       problem_report("249")},
      {"BOOL_VECTOR after RH_START", "run.log", "# Number of cores : 4\nRH_START\nBOOL_VECTOR\n",
       misplaced, 1, problem_report("256")},
      {"a misplaced declaration after debug traces", "run.log -debug", "RH_START\nNUM_VECTOR\n",
       "lu RH_START\nlu NUM_VECTOR\n" + misplaced, 1, problem_report("249")},
      {"FORMULA_NAME of one word", "run.log", "FORMULA_NAME\n", "Problem with file run.log,-\n"},
      {"a 17th formula name", "run.log", numbered("F", 17, "FORMULA_NAME "), table_full, 1,
       problem_report("99")},
      {"16 formula names declared again", "run.log",
       numbered("F", 16, "FORMULA_NAME ") + numbered("F", 16, "FORMULA_NAME ") + "RH_START\n",
       "NO_CORE,OK,OK,DNF,-\n"},
      {"a 21st technique", "run.log",
       "FORMULA_NAME M\nRH_START\nFORMULA M 1 TECHNIQUES" + numbered("T", 21, " ", "") + "\n",
       table_full, 1, problem_report("99")},
      {"20 techniques and repeats", "run.log",
       "FORMULA_NAME M\nRH_START\nFORMULA M 1 TECHNIQUES" + numbered("T", 20, " ", "") +
           " T1 T20\nRH_STOP\n",
       "NO_CORE,OK,OK,1 NUM:1," + numbered("T", 20, "", " ") + "\n"},
      {"techniques differing in case are distinct", "run.log",
       "STATE_SPACE STATES 1 TECHNIQUES a A a\n", "NO_CORE,OK,OK,4 NUM:1 NUM:? NUM:? NUM:?,a A \n"},
      {"NUM_VECTOR turns TRUE and FALSE into no value", "run.log",
       "FORMULA_NAME Model-Formula-01\nFORMULA_NAME Model-Formula-02\nNUM_VECTOR\nRH_START\n"
       "FORMULA Model-Formula-01 TRUE TECHNIQUES W\nFORMULA Model-Formula-02 17 TECHNIQUES X\n"
       "RH_STOP\n",
       "NO_CORE,OK,OK,2 NUM:? NUM:17,X \n"},
      {"BOOL_VECTOR stores any word", "run.log",
       "FORMULA_NAME Model-Formula-01\nBOOL_VECTOR\nRH_START\nFORMULA Model-Formula-01 17\n",
       "NO_CORE,OK,OK,1 BOOL:17,-\n"},
      {"NUM_VECTOR after an answer changes only later lines", "run.log",
       "FORMULA_NAME Model-Formula-01\nFORMULA_NAME Model-Formula-02\n"
       "FORMULA Model-Formula-01 TRUE\nNUM_VECTOR\nFORMULA Model-Formula-02 "
       "TRUE\nRH_START\nRH_STOP\n",
       "NO_CORE,OK,OK,2 NUM:TRUE NUM:?,-\n"},
      {"BOOL_VECTOR after the first answer still makes Boolean entries", "run.log",
       "FORMULA_NAME Model-Formula-01\nFORMULA Model-Formula-01 TRUE\nBOOL_VECTOR\nRH_START\n",
       "NO_CORE,OK,OK,1 BOOL:TRUE,-\n"},
      {"the first answer wins", "run.log",
       "FORMULA_NAME Model-Formula-01\nRH_START\nFORMULA Model-Formula-01 TRUE\n"
       "FORMULA Model-Formula-01 FALSE TECHNIQUES X\n",
       "NO_CORE,OK,OK,1 NUM:TRUE,-\n"},
      {"answers share the positions of the state space vector", "run.log",
       "FORMULA_NAME Model-Formula-01\nFORMULA_NAME Model-Formula-02\nFORMULA_NAME "
       "Model-Formula-03\n"
       "STATE_SPACE STATES CANNOT_COMPUTE\nFORMULA Model-Formula-01 1\nFORMULA Model-Formula-02 2\n"
       "FORMULA Model-Formula-01 9\nFORMULA Model-Formula-03 3\n",
       "NO_CORE,OK,OK,3 NUM:1 NUM:2 NUM:3,-\n"},
      {"a fifth position in a state space vector is a data error", "run.log",
       "STATE_SPACE STATES CANNOT_COMPUTE\nFORMULA Model-Formula-01 1\nFORMULA Model-Formula-02 2\n"
       "FORMULA Model-Formula-03 3\nFORMULA Model-Formula-04 4\n",
       "ERROR,-\n"},
      {"a 17th stored answer is a data error", "run.log",
       "RH_START\n" + numbered("Model-Formula-", 17, "FORMULA ", " 1\n"), "ERROR,-\n"},
      {"16 answers fit", "run.log",
       numbered("F", 16, "FORMULA_NAME ") + "RH_START\n" + numbered("F", 16, "FORMULA ", " 1\n"),
       "NO_CORE,OK,OK,16" + repeated(" NUM:1", 16) + ",-\n"},
      {"no-answer words store ? without techniques", "run.log",
       "FORMULA_NAME Model-Formula-01\nFORMULA_NAME Model-Formula-02\nFORMULA_NAME "
       "Model-Formula-03\n"
       "RH_START\nFORMULA Model-Formula-01 TECHNIQUES X\nFORMULA Model-Formula-02 CANNOT_COMPUTE\n"
       "FORMULA Model-Formula-03 spx_run: Y\nFORMULA Model-Formula-03 5\n",
       "NO_CORE,OK,OK,3 NUM:? NUM:? NUM:?,-\n"},
      {"a no-answer word after an answer changes nothing", "run.log",
       "FORMULA_NAME Model-Formula-01\nRH_START\nFORMULA Model-Formula-01 4\n"
       "FORMULA Model-Formula-01 CANNOT_COMPUTE\n",
       "NO_CORE,OK,OK,1 NUM:4,-\n"},
      {"FORMULA of two words", "run.log", "FORMULA Model-Formula-01\n",
       "Problem with file run.log,-\n"},
      {"FORMULA of one word", "run.log", "FORMULA\n", "Problem with file run.log,-\n"},
      {"an empty answer counts as none; a later one is stored but the first entry is read",
       "run.log",
       "FORMULA_NAME Model-Formula-01\nRH_START\nFORMULA Model-Formula-01 \n"
       "FORMULA Model-Formula-01 7\n",
       "NO_CORE,OK,OK,1 NUM:?,-\n"},
      {"an empty answer alone is written as no value", "run.log",
       "FORMULA_NAME Model-Formula-01\nBOOL_VECTOR\nRH_START\nFORMULA Model-Formula-01 \n",
       "NO_CORE,OK,OK,1 BOOL:?,-\n"},
      {"a blank after the techniques adds the empty technique", "run.log",
       "FORMULA_NAME M\nRH_START\nFORMULA M 3 TECHNIQUES A \n", "NO_CORE,OK,OK,1 NUM:3,A  \n"},
      {"marcie's refusal stores no value", "run.log",
       "# Executing tool marcie\nFORMULA_NAME Model-Formula-01\nRH_START\n"
       "FORMULA Model-Formula-01CANNOT_COMPUTE\nFORMULA Model-Formula-01 5\n",
       "NO_CORE,OK,OK,1 NUM:?,-\n"},
      {"another tool's refusal only sets cannot compute", "run.log",
       "# Executing tool other\nFORMULA_NAME Model-Formula-01\nRH_START\n"
       "FORMULA Model-Formula-01CANNOT_COMPUTE\nFORMULA Model-Formula-01 5\n",
       "NO_CORE,OK,OK,1 NUM:5,-\n"},
      {"marcie's refusal with a third word only sets cannot compute", "run.log",
       "# Executing tool marcie\nFORMULA_NAME Model-Formula-01\nRH_START\n"
       "FORMULA Model-Formula-01CANNOT_COMPUTE x\nFORMULA Model-Formula-01 5\n",
       "NO_CORE,OK,OK,1 NUM:5,-\n"},
      {"a refusal before any tool line is a data error", "run.log",
       "RH_START\nFORMULA Model-Formula-01CANNOT_COMPUTE\n", "ERROR,-\n"},
      {"marcie's refusal with an empty name uses a position", "run.log",
       "# Executing tool marcie\nSTATE_SPACE STATES 1\nSTATE_SPACE TRANSITIONS 2\n"
       "STATE_SPACE MAX_TOKEN_IN_PLACE 3\nFORMULA CANNOT_COMPUTE\nFORMULA M 5\n",
       "ERROR,-\n"},
      // Decided reading choices, end to end.
      {"a line of exactly 16384 bytes is one line", "run.log -debug",
       std::string(16384, 'x') + "\nRH_START\n",
       "lu " + std::string(16384, 'x') + "\nlu RH_START\nprinting line\nNO_CORE,OK,OK,DNF,-\n"},
      {"an empty line before the end of the log is read", "run.log -debug", "a\n\n",
       "lu a\nlu \nprinting line\nNO_CORE,OK,OK,BAD_RUN?,-\n"},
      {"a form feed after a line feed is an ordinary byte", "run.log -debug",
       "RH_START\n\fRH_STOP\nRH_TIME_CONFINEMENT_REACHED\n",
       "lu RH_START\nlu \fRH_STOP\nlu RH_TIME_CONFINEMENT_REACHED\nprinting line\n"
       "NO_CORE,DNF,OK,DNF,-\n"},
      {"refused and accepted number forms as stored values", "run.log",
       "STATE_SPACE STATES 12. TECHNIQUES A\nSTATE_SPACE TRANSITIONS .5 TECHNIQUES B\n"
       "STATE_SPACE MAX_TOKEN_IN_PLACE 8#.4# TECHNIQUES C\n"
       "STATE_SPACE MAX_TOKEN_PER_MARKING 1E99999 TECHNIQUES D\n",
       "NO_CORE,OK,OK,4 NUM:? NUM:? NUM:? NUM:1E99999,D \n"},
      {"signed based numbers with an exponent are stored as written", "run.log",
       "STATE_SPACE STATES -16#FF#E2\nSTATE_SPACE TRANSITIONS +7\nSTATE_SPACE MAX_TOKEN_IN_PLACE "
       "2#1.1#\nSTATE_SPACE MAX_TOKEN_PER_MARKING 1.0e+1_0\n",
       "NO_CORE,OK,OK,4 NUM:-16#FF#E2 NUM:+7 NUM:2#1.1# NUM:1.0e+1_0,-\n"},

      // Values and names holding a colon.
      {"a stored value is read back up to its first colon", "run.log",
       "STATE_SPACE STATES 16:FF: TECHNIQUES A\n", "NO_CORE,OK,OK,4 NUM:16 NUM:? NUM:? NUM:?,A \n"},
      {"a formula answer is read back up to its first colon", "run.log",
       "FORMULA_NAME F1\nFORMULA F1 a:b\nFORMULA F1 7\n", "NO_CORE,OK,OK,1 NUM:a,-\n"},
      {"a formula name holding a colon never finds its answer", "run.log",
       "FORMULA_NAME A:B\nFORMULA A:B 5\nFORMULA A:B 6\n", "NO_CORE,OK,OK,1 NUM:?,-\n"},
      {"answers for a name holding a colon each take a position", "run.log",
       "FORMULA_NAME A:B\n" + repeated("FORMULA A:B 5\n", 17), "ERROR,-\n"},
      {"an empty formula name finds no answer", "run.log",
       "FORMULA_NAME \nFORMULA Model-Formula-01 3\n", "NO_CORE,OK,OK,1 NUM:?,-\n"},

      // Positions and declarations.
      {"a repeated or refused answer uses no position", "run.log",
       numbered("F", 16, "FORMULA_NAME ") +
           "RH_START\nFORMULA F1 1\nFORMULA F1 2\n"
           "FORMULA F1 TECHNIQUES X\nFORMULA F1 CANNOT_COMPUTE\n" +
           numbered("F", 16, "FORMULA ", " 1\n"),
       "NO_CORE,OK,OK,16" + repeated(" NUM:1", 16) + ",-\n"},
      {"state space refusals beyond the vector's size store nothing", "run.log",
       "FORMULA Model-Formula-01 1\n" + repeated("STATE_SPACE CANNOT_COMPUTE\n", 20),
       "NO_CORE,OK,OK,0,-\n"},
      {"a formula name declared twice is written once", "run.log",
       "FORMULA_NAME A\nFORMULA_NAME A\nRH_START\nFORMULA A 5\nRH_STOP\n",
       "NO_CORE,OK,OK,1 NUM:5,-\n"},
      {"FORMULA_NAME reads only word 2", "run.log", "FORMULA_NAME A B\nFORMULA A 1\nFORMULA B 2\n",
       "NO_CORE,OK,OK,1 NUM:1,-\n"},
      {"NUM_VECTOR and BOOL_VECTOR together", "run.log",
       "FORMULA_NAME Model-Formula-01\nFORMULA_NAME Model-Formula-02\nNUM_VECTOR\nBOOL_VECTOR\n"
       "RH_START\nFORMULA Model-Formula-01 TRUE TECHNIQUES X\nFORMULA Model-Formula-02 3\n",
       "NO_CORE,OK,OK,2 BOOL:? BOOL:3,-\n"},
      {"a refusal with a third word before any tool line is a data error", "run.log",
       "FORMULA Model-Formula-01CANNOT_COMPUTE x\n", "ERROR,-\n"},
      {"STATE_SPACE techniques need TECHNIQUES as word 4", "run.log",
       "STATE_SPACE STATES 5 TECHNIQUE A\nSTATE_SPACE TRANSITIONS 6 X TECHNIQUES B\n"
       "STATE_SPACE MAX_TOKEN_IN_PLACE 7 TECHNIQUES\n",
       "NO_CORE,OK,OK,4 NUM:5 NUM:6 NUM:7 NUM:?,-\n"},
      {"STATES wins over STATE for velox", "run.log",
       "# Executing tool velox\nSTATE_SPACE STATE 1\nSTATE_SPACE STATES 2\n",
       "NO_CORE,OK,OK,4 NUM:2 NUM:? NUM:? NUM:?,-\n"},
      {"velox without STATES or STATE", "run.log",
       "# Executing tool velox\nSTATE_SPACE TRANSITIONS 5\n",
       "NO_CORE,OK,OK,4 NUM:? NUM:5 NUM:? NUM:?,-\n"},
      {"an empty tool name is a tool line all the same", "run.log",
       "# Executing tool \nSTATE_SPACE TRANSITIONS 5\n",
       "NO_CORE,OK,OK,4 NUM:? NUM:5 NUM:? NUM:?,-\n"},

      // The order of the tests, and blanks in front.
      {"a memory signature wins over the time confinement", "run.log",
       "RH_TIME_CONFINEMENT_REACHED x Out y memory\n", "NO_CORE,OK,MOVF,BAD_RUN?,-\n"},
      {"the time confinement wins over the tool line", "run.log",
       "RH_TIME_CONFINEMENT_REACHED Executing tool velox\nSTATE_SPACE STATE 9\n",
       "NO_CORE,DNF,OK,ERROR,-\n"},
      {"the core-count line wins over RH_START", "run.log", "RH_START Number of cores : 4\n",
       "4,OK,OK,BAD_RUN?,-\n"},
      {"the tool line wins over RH_STOP", "run.log",
       "RH_START\nRH_STOP Executing tool x\nCan't allocate memory\n", "NO_CORE,OK,MOVF,DNF,-\n"},
      {"bad_alloc wins over RH_STOP", "run.log", "RH_STOP 2 3 4 5 6 7 'std::bad_alloc'\nRH_START\n",
       "NO_CORE,OK,MOVF,DNF,-\n"},
      {"a memory signature with a blank in front", "run.log", " x Out y memory\n",
       "NO_CORE,OK,MOVF,BAD_RUN?,-\n"},
      {"a core-count line with a blank in front", "run.log", " Number of cores : 4\n",
       "4,OK,OK,BAD_RUN?,-\n"},
      {"word 1 keywords ignore the words after them", "run.log",
       "RH_START now\nDO_NOT_COMPETE because\nRH_STOP here\n", "NO_CORE,OK,OK,DNC,-\n"},

      // Failures in debug and long mode.
      {"an Index_Error after debug traces", "run.log -debug", "RH_START\nSTATE_SPACE\nRH_STOP\n",
       "lu RH_START\nlu STATE_SPACE\nProblem with file run.log,-\n"},
      {"an Index_Error in the scan comes before the long-mode fields", "-long a_b_c_d", "FORMULA\n",
       "Problem with file a_b_c_d,-\n"},

      // The command line, end to end.
      {"-help with a second argument is a file name", "-help x", "RH_START\n",
       "NO_CORE,OK,OK,DNF,-\n"},
      {"-debug alone is a file name", "-debug", "RH_START\n", "NO_CORE,OK,OK,DNF,-\n"},
      {"-long alone is a file name", "-long", "RH_START\n", "NO_CORE,OK,OK,DNF,-\n"},
      {"-debug first is the file name", "-debug x", "RH_START\n", "NO_CORE,OK,OK,DNF,-\n"},
      {"-long last is ignored", "x_y -long", "RH_START\n", "NO_CORE,OK,OK,DNF,-\n"},
      {"arguments after the file are ignored", "x y -debug z", "RH_START\n",
       "NO_CORE,OK,OK,DNF,-\n"},

      // A last line without line feed that passes a test.
      {"a memory signature in a last line without line feed", "run.log", "a\nx y Out z memory",
       "NO_CORE,OK,MOVF,BAD_RUN?,-\n"},
      {"a core count in a last line without line feed, traced", "run.log -debug",
       "FORMULA_NAME F1\n# Number of cores : 4",
       "lu FORMULA_NAME F1\nlu # Number of cores : 4\nprinting line\n4,OK,OK,BAD_RUN?,-\n"},
      {"a tool line in a last line without line feed", "run.log",
       "STATE_SPACE TRANSITIONS 5\n# Executing tool velox",
       "NO_CORE,OK,OK,4 NUM:? NUM:5 NUM:? NUM:?,-\n"},
      {"a last line without line feed after a block of chatter", "run.log",
       repeated("chatter of no interest\n", 9000) + "x y Out z memory",
       "NO_CORE,OK,MOVF,BAD_RUN?,-\n"},

      // What crashing tools leave behind: odd bytes, line ends and lengths, full tables.
      // Empty and blank logs.
      {"a file of only line feeds in debug mode", "run.log -debug", "\n\n\n",
       "lu \nlu \nlu \nprinting line\n" + bad_run},
      {"a file of only blanks", "run.log", std::string(3 * piece, ' '), bad_run},

      // No final line feed: the last line counts all the same.
      {"no final line feed after a figure", "run.log", "RH_START\nSTATE_SPACE STATES 12",
       "NO_CORE,OK,OK,4 NUM:12 NUM:? NUM:? NUM:?,-\n"},
      {"no final line feed in debug mode", "run.log -debug", "RH_START\nCan't allocate memory",
       "lu RH_START\nlu Can't allocate memory\nprinting line\nNO_CORE,OK,MOVF,DNF,-\n"},

      // NUL bytes are ordinary bytes: part of words, never line ends.
      {"NUL bytes around markers", "run.log",
       "\0\0\0\n# Number of cores : 4\nRH_START\n\0RH_STOP\nRH_STOP\0\n"s, "4,OK,OK,DNF,-\n"},
      {"a file of NUL bytes", "run.log", std::string(65536, '\0'), bad_run},
      // Kept from a fuzzing run, in which a NUL byte after the last line feed was read out of
      // bounds.
      {"a NUL byte after the last line feed", "run.log", "\0\n\0"s, bad_run},
      {"a NUL byte in the core count", "run.log", "# Number of cores : 4\0\n"s,
       "4\0,OK,OK,BAD_RUN?,-\n"s},
      {"NUL bytes in debug traces", "run.log -debug", "a\0b\n\0\n"s,
       "lu a\0b\nlu \0\nprinting line\n"s + bad_run},

      // Invalid UTF-8 is never decoded: the bytes pass through unchanged.
      {"invalid UTF-8", "run.log",
       "\xc3\x28 \xa0\xa1\n# Executing tool \xff\xfe\n# Number of cores : \xc3\x28\nRH_START\n"
       "STATE_SPACE STATES 7 TECHNIQUES \xe2\x82 \xf0\x28\x8c\xbc\n\xed\xa0\x80 overlong \xc0\xaf\n"
       "RH_STOP\n",
       "\xc3\x28,OK,OK,4 NUM:7 NUM:? NUM:? NUM:?,\xe2\x82 \xf0\x28\x8c\xbc \n"},

      // CR LF line ends: the carriage return is the last byte of each line's last word.
      {"CR LF line ends", "run.log", with_crlf(velox_run_without_one_technique),
       "4\r,OK,OK,4 NUM:1024 NUM:5000 NUM:? NUM:3,TECH_A TECH_B\r \n"},
      {"CR LF line ends in debug mode", "run.log -debug", "RH_START\r\nRH_STOP\r\n",
       "lu RH_START\r\nlu RH_STOP\r\nprinting line\n" + bad_run},

      // Lines around the piece length: a longer line is read in pieces of 16384 bytes.
      {"a line of 16383 bytes", "run.log", cores_line(piece - 1) + "\n",
       std::string(piece - 22, '1') + "2,OK,OK,BAD_RUN?,-\n"},
      {"a line of 16384 bytes", "run.log", cores_line(piece) + "\n",
       std::string(piece - 21, '1') + "2,OK,OK,BAD_RUN?,-\n"},
      {"a line of 16385 bytes", "run.log", cores_line(piece + 1) + "\n",
       std::string(piece - 20, '1') + ",OK,OK,BAD_RUN?,-\n"},
      {"a line of 16383 bytes in debug mode", "run.log -debug",
       cores_line(piece - 1) + "\nRH_START\n",
       "lu " + cores_line(piece - 1) + "\nlu RH_START\nprinting line\n" +
           std::string(piece - 22, '1') + "2,OK,OK,DNF,-\n"},
      {"a line of 16384 bytes in debug mode", "run.log -debug", cores_line(piece) + "\nRH_START\n",
       "lu " + cores_line(piece) + "\nlu RH_START\nprinting line\n" + std::string(piece - 21, '1') +
           "2,OK,OK,DNF,-\n"},
      {"a line of 16385 bytes in debug mode", "run.log -debug",
       cores_line(piece + 1) + "\nRH_START\n",
       "lu " + cores_line(piece + 1).substr(0, piece) + "\nlu 2\nlu RH_START\nprinting line\n" +
           std::string(piece - 20, '1') + ",OK,OK,DNF,-\n"},
      {"a marker right after the first piece", "run.log", std::string(piece, 'x') + "RH_START\n",
       "NO_CORE,OK,OK,DNF,-\n"},
      {"a stop marker in the second piece ends the scan", "run.log",
       "RH_START\n" + std::string(piece, 'x') + "RH_STOP " + std::string(piece, 'y') +
           "Can't allocate memory\nCan't allocate memory\n",
       "NO_CORE,OK,OK,CC,-\n"},
      {"a whole-line message as the last piece", "run.log",
       "RH_START\n" + std::string(2 * piece, 'x') + "Can't allocate memory\n",
       "NO_CORE,OK,MOVF,DNF,-\n"},
      {"a core-count line cut at the piece boundary, in debug mode", "run.log -debug",
       cut_cores_line,
       "lu " + cut_cores_line.substr(0, piece) + "\nlu  Number of cores : \nprinting line\n" +
           ",OK,OK,BAD_RUN?,-\n"},

      // Tables: repeats cost nothing, a 21st distinct technique is a PROBLEM.
      {"10000 FORMULA_NAME lines with one name", "run.log",
       repeated("FORMULA_NAME Model-Formula-01\n", 10000) +
           "NUM_VECTOR\nRH_START\nFORMULA Model-Formula-01 42 TECHNIQUES T\nRH_STOP\n",
       "NO_CORE,OK,OK,1 NUM:42,T \n"},
      {"21 distinct techniques over several lines", "run.log",
       "RH_START\nSTATE_SPACE STATES 1 TECHNIQUES" + numbered("T", 10, " ", "") +
           "\nSTATE_SPACE TRANSITIONS 2 TECHNIQUES" + numbered("T", 20, " ", "") +
           "\nSTATE_SPACE MAX_TOKEN_IN_PLACE 3 TECHNIQUES T1 T21 T2\nRH_STOP\n",
       table_full, 1, problem_report("99")},
      {"21 distinct techniques in debug mode", "run.log -debug",
       "FORMULA_NAME M\nRH_START\nFORMULA M 1 TECHNIQUES" + numbered("T", 21, " ", "") + "\n",
       "lu FORMULA_NAME M\nlu RH_START\nlu FORMULA M 1 TECHNIQUES" + numbered("T", 21, " ", "") +
           "\n" + table_full,
       1, problem_report("99")},
      // 4000 words in 14222 bytes, short of a piece: a cut word would be a new technique.
      {"4000 technique words, 20 distinct", "run.log",
       "FORMULA_NAME F\nRH_START\nFORMULA F 1 TECHNIQUES" +
           repeated(numbered("T", 20, " ", ""), 200) + "\nRH_STOP\n",
       "NO_CORE,OK,OK,1 NUM:1," + numbered("T", 20, "", " ") + "\n"},

  };
}

}  // namespace

const std::vector<log_case>& log_cases() {
  static const std::vector<log_case> cases = make_cases();
  return cases;
}

}  // namespace sift_runlog::testing_support
