{ A small game host written in Pascal, as a Pascal-compiled game is: its string
  cells are the RTL's AnsiStrings, its value records are finalized by the RTL, its
  routines are ordinary register-convention routines, reached through jumps at the
  host's fixed addresses (host/host_contract.h, bridge/nexlink_table.h). It calls
  varnel's exports with the RTL's floating-point words. Exits 0 when every check
  held. Argument: the project's root directory; or a Lua file, which it only
  loads into one engine (what the file prints is its output), exiting 1 when
  anything was reported. }
program pascal_host;
{$mode delphi}
{$packrecords c}

uses SysUtils, Windows;

type
  PHostValue = ^THostValue;
  THostValue = record
    Kind: LongInt;
    Reserved0: LongInt;
    Real: Double;
    Text: AnsiString;
    Reserved1: LongInt;
  end;
  THostValues = array[0..99999] of THostValue;
  PHostValues = ^THostValues;
  PAnsiStringCell = ^AnsiString;

function state(id: Double): Double; cdecl; external 'varnel.dll';
function load(id: Double; path: PAnsiChar): Double; cdecl; external 'varnel.dll';
function destroy(id: Double): Double; cdecl; external 'varnel.dll';
function script_register(id: Double; name: PAnsiChar; index: Double): Double; cdecl; external 'varnel.dll';
function script_event(id: Double; name: PAnsiChar; list: Double): Double; cdecl; external 'varnel.dll';

const
  KindNumber = 0;
  KindText = 1;
  RtlX87 = $1372;
  RtlMxcsr = $1900;
  CX87 = $037F;
  CMxcsr = $1F80;

var
  { Covers the host's routine addresses once the image sits at 0x00300000. }
  Room: array[0..$2FFFFF] of Byte;
  Failures: Integer = 0;
  Reports: Integer = 0;
  LastReport: AnsiString = '';
  Draws: Integer = 0;
  Quiet: Boolean = False;
  Lists: array[1..3] of array of THostValue;
  RaiseKind: Integer = 0;

procedure Check(ok: Boolean; const what: AnsiString);
begin
  if not ok then begin
    Inc(Failures);
    WriteLn('FAILED: ', what);
  end;
end;

function NumberValue(r: Double): THostValue;
begin
  Result := Default(THostValue);
  Result.Kind := KindNumber;
  Result.Real := r;
end;

function TextValue(const s: AnsiString): THostValue;
begin
  Result := Default(THostValue);
  Result.Kind := KindText;
  Result.Text := s;
end;

{ The cell and record routines. }
function NewCell(size: LongInt; descriptor: Pointer): PAnsiStringCell; register;
begin
  New(Result);  { initialized: the empty string }
end;

procedure AssignString(cell: PAnsiStringCell; text: PAnsiChar); register;
begin
  SetString(cell^, text, StrLen(text));  { a copy: the block is the caller's }
end;

procedure ClearString(cell: PAnsiStringCell); register;
begin
  cell^ := '';
end;

procedure DisposeCell(cell: PAnsiStringCell; descriptor: Pointer); register;
begin
  Dispose(cell);
end;

procedure FinalizeRecord(rec: PHostValue; descriptor: Pointer); register;
begin
  Finalize(rec^);
end;

{ The built-in routines: ECX = count; records, tag and result on the stack. }
procedure ExecuteScript(a, b, count: LongInt; records: PHostValues; tag: LongInt; result: PHostValue); register;
var
  i: Integer;
  sum, zero: Double;
  who: AnsiString;
begin
  case Round(records^[0].Real) of
    1: begin  { host_add }
         sum := 0;
         for i := 1 to count - 1 do
           if records^[i].Kind = KindNumber then sum := sum + records^[i].Real;
         result^.Real := sum;
       end;
    2: begin  { host_greet }
         who := '';
         if (count > 1) and (records^[1].Kind = KindText) then who := records^[1].Text;
         if who = '' then who := 'stranger';
         result^.Kind := KindText;
         result^.Text := 'hello, ' + who;
       end;
    3: raise Exception.Create('a Pascal exception in a host script');
    4: begin  { a hardware fault: the RTL's words unmask zero-divide }
         zero := 0;
         result^.Real := 1 / zero;
       end;
    5: result^.Real := 1;
  end;
end;

procedure ListSize(a, b, count: LongInt; records: PHostValues; tag: LongInt; result: PHostValue); register;
begin
  result^.Real := Length(Lists[Round(records^[0].Real)]);
end;

procedure ListGet(a, b, count: LongInt; records: PHostValues; tag: LongInt; result: PHostValue); register;
begin
  result^ := Lists[Round(records^[0].Real)][Round(records^[1].Real)];
end;

procedure ListDone(a, b, count: LongInt; records: PHostValues; tag: LongInt; result: PHostValue); register;
begin
end;

procedure ReportError(a, b, count: LongInt; records: PHostValues; tag: LongInt; result: PHostValue); register;
begin
  Inc(Reports);
  LastReport := records^[0].Text;
  if not Quiet then WriteLn('  report: ', LastReport);
end;

procedure DrawText(a, b, count: LongInt; records: PHostValues; tag: LongInt; result: PHostValue); register;
begin
  Inc(Draws);
  if not Quiet then WriteLn('  draw ', records^[0].Real:0:0, ', ', records^[1].Real:0:0, ': ', records^[2].Text);
end;

procedure Place(address: PtrUInt; routine: Pointer);
var
  p: PByte;
begin
  p := PByte(address);
  p^ := $E9;  { jmp rel32 }
  PLongInt(p + 1)^ := LongInt(PtrUInt(routine) - (address + 5));
end;

procedure InstallRoutines;
var
  old: DWORD;
begin
  if (PtrUInt(@Room[0]) > $00400000) or (PtrUInt(@Room[High(Room)]) < $00580000) then begin
    WriteLn('the routines'' room lies at ', IntToHex(PtrUInt(@Room[0]), 8), ': link the program at 0x00300000');
    Halt(2);
  end;
  VirtualProtect(Pointer($00400000), $00180000, PAGE_EXECUTE_READWRITE, old);
  Place($00405ECC, @NewCell);
  Place($00404FFC, @AssignString);
  Place($00404FA8, @ClearString);
  Place($00405EE0, @DisposeCell);
  Place($00405A58, @FinalizeRecord);
  Place($0056FDE4, @ExecuteScript);
  Place($0057A710, @ListSize);
  Place($0057AAE4, @ListGet);
  Place($0057A554, @ListDone);
  Place($00564428, @ReportError);
  Place($005559C8, @DrawText);
end;

procedure CheckWords(x87, mxcsr: Word; const where: AnsiString);
begin
  Check(Get8087CW = x87, where + ': x87 control word ' + IntToHex(Get8087CW, 4));
  Check((GetMXCSR and not $3F) = (mxcsr and not $3F), where + ': MXCSR ' + IntToHex(GetMXCSR, 4));
end;

procedure SetWords(x87, mxcsr: Word);
begin
  Set8087CW(x87);
  SetMXCSR(mxcsr);
end;

function WriteScript(const name, source: AnsiString): AnsiString;
var
  f: TextFile;
begin
  Result := GetTempDir + name;
  AssignFile(f, Result);
  Rewrite(f);
  Write(f, source);
  CloseFile(f);
end;

procedure RunDemo(const root: AnsiString);
var
  verdicts: array[1..3] of Double;
  i: Integer;
begin
  WriteLn('demo');
  Check(state(1) = 1.0, 'state');
  Check(script_register(1, 'host_add', 1) = 1.0, 'register host_add');
  Check(script_register(1, 'host_greet', 2) = 1.0, 'register host_greet');
  Check(load(1, PAnsiChar(root + '/examples/demo.lua')) = 1.0, 'load demo');
  Lists[1] := [NumberValue(1), NumberValue(4), NumberValue(5.5), TextValue('apple')];
  Lists[2] := [NumberValue(2), NumberValue(4)];
  Lists[3] := [NumberValue(3)];
  for i := 1 to 3 do verdicts[i] := script_event(1, 'on_frame', i);
  CheckWords(RtlX87, RtlMxcsr, 'after the demo''s events');
  Check((verdicts[1] = 0.0) and (verdicts[2] = 1.0) and (verdicts[3] = 1.0), 'verdicts');
  Check(Reports = 1, 'one report from frame 3');
  Check(Draws = 4, 'four texts drawn');
  Check(destroy(1) = 1.0, 'destroy');
end;

procedure RunFaults;
var
  i: Integer;
begin
  WriteLn('exceptions in host scripts');
  Check(state(1) = 1.0, 'state');
  Check(script_register(1, 'pascal_raises', 3) = 1.0, 'register');
  Check(script_register(1, 'divides', 4) = 1.0, 'register');
  Quiet := True;
  for i := 1 to 50 do begin
    Reports := 0;
    Check(load(1, PAnsiChar(WriteScript('varnel_pascal_raise.lua',
      'local ok, e = pcall(pascal_raises); assert(not ok and e:find("host routine raised exception", 1, true))' + LineEnding +
      'pascal_raises()'))) = 1.0, 'load');
    Check((Reports = 1) and (Pos('host routine raised exception', LastReport) = 1), 'a Pascal exception reported: ' + LastReport);
    Reports := 0;
    Check(load(1, PAnsiChar(WriteScript('varnel_pascal_divide.lua', 'divides()'))) = 1.0, 'load');
    Check((Reports = 1) and (Pos('host routine raised exception', LastReport) = 1), 'a division fault reported: ' + LastReport);
    CheckWords(RtlX87, RtlMxcsr, 'after a fault');
  end;
  Quiet := False;
  WriteLn('  last: ', LastReport);
  Reports := 0;
  Check(load(1, PAnsiChar(WriteScript('varnel_pascal_ok.lua', 'assert(1/3 > 0.333)'))) = 1.0, 'load');
  Check(Reports = 0, 'the engine still runs scripts');
  Check(destroy(1) = 1.0, 'destroy');
end;

procedure RunManyEvents;
var
  before, after: TFPCHeapStatus;
  i: Integer;
begin
  WriteLn('100000 events');
  Check(state(2) = 1.0, 'state');
  Check(script_register(2, 'host_add', 1) = 1.0, 'register');
  Check(load(2, PAnsiChar(WriteScript('varnel_pascal_events.lua',
    'function on_values(a, b, c, d) return host_add(a, b, c) + #d - 20 end'))) = 1.0, 'load');
  Lists[1] := [NumberValue(1), NumberValue(2), NumberValue(3), TextValue('ten characters')];
  Quiet := True;
  Reports := 0;
  Check(script_event(2, 'on_values', 1) = 1.0, 'first event');
  before := GetFPCHeapStatus;
  for i := 1 to 100000 do
    if script_event(2, 'on_values', 1) <> 1.0 then begin
      Check(False, 'event ' + IntToStr(i));
      Break;
    end;
  after := GetFPCHeapStatus;
  Quiet := False;
  Check(Reports = 0, 'no reports');
  Check(after.CurrHeapUsed = before.CurrHeapUsed, 'heap in use ' + IntToStr(before.CurrHeapUsed) + ' -> ' + IntToStr(after.CurrHeapUsed));
  Check(destroy(2) = 1.0, 'destroy');
end;

{ The best of three timings of n events, in ns per event. }
function NsPerCall(const name: AnsiString; list: Double; n: Integer): Double;
var
  freq, t0, t1: Int64;
  i, round: Integer;
begin
  QueryPerformanceFrequency(freq);
  Result := 1.0e30;
  for round := 1 to 3 do begin
    QueryPerformanceCounter(t0);
    for i := 1 to n do script_event(3, PAnsiChar(name), list);
    QueryPerformanceCounter(t1);
    if (t1 - t0) * 1.0e9 / freq / n < Result then Result := (t1 - t0) * 1.0e9 / freq / n;
  end;
end;

{ Each row with the RTL's words and with the C runtime's, after a warm-up: an
  event, or a Lua loop of 100 calls of a host script or draw_text (per call). }
procedure RunBenchmark;
const
  N = 20000;
  Rows = 4;
  Names: array[1..Rows] of AnsiString = ('empty', 'four', 'hosts', 'draws');
  ListOf: array[1..Rows] of Double = (2, 3, 2, 2);
  PerEvent: array[1..Rows] of Integer = (1, 1, 100, 100);
  Labels: array[1..Rows] of AnsiString = ('script_event empty             ',
    'script_event 4 numbers, 1 host ', 'host script from Lua          ', 'draw_text from Lua             ');
var
  rtl, c: array[1..Rows] of Double;
  i: Integer;
begin
  Check(state(3) = 1.0, 'state');
  Check(script_register(3, 'host_one', 5) = 1.0, 'register');
  Check(load(3, PAnsiChar(WriteScript('varnel_pascal_bench.lua',
    'function empty() return 0 end function four(a, b, c, d) return host_one() end ' +
    'function hosts() for i = 1, 100 do host_one() end return 0 end ' +
    'function draws() for i = 1, 100 do draw_text(1, 2, "hello") end return 0 end'))) = 1.0, 'load');
  Lists[2] := [];
  Lists[3] := [NumberValue(1), NumberValue(2), NumberValue(3), NumberValue(4)];
  Quiet := True;
  for i := 1 to Rows do begin
    NsPerCall(Names[i], ListOf[i], N div PerEvent[i]);
    rtl[i] := NsPerCall(Names[i], ListOf[i], N div PerEvent[i]) / PerEvent[i];
  end;
  SetWords(CX87, CMxcsr);
  for i := 1 to Rows do begin
    NsPerCall(Names[i], ListOf[i], N div PerEvent[i]);
    c[i] := NsPerCall(Names[i], ListOf[i], N div PerEvent[i]) / PerEvent[i];
  end;
  SetWords(RtlX87, RtlMxcsr);
  Quiet := False;
  WriteLn('benchmark (ns per call)        RTL words 0x1372/0x1900   C runtime words 0x037F/0x1F80   ratio');
  for i := 1 to Rows do
    WriteLn(Labels[i], rtl[i]:10:0, '                ', c[i]:10:0, '                     ', rtl[i] / c[i]:5:2);
  Check(destroy(3) = 1.0, 'destroy');
end;

var
  root: AnsiString;
begin
  root := ParamStr(1);
  if root = '' then root := '.';
  InstallRoutines;
  CheckWords(RtlX87, RtlMxcsr, 'the RTL''s words at start');
  if LowerCase(ExtractFileExt(root)) = '.lua' then begin
    Quiet := True;
    state(1);
    load(1, PAnsiChar(root));
    destroy(1);
    CheckWords(RtlX87, RtlMxcsr, 'after the file');
    if (Reports > 0) or (Failures > 0) then begin
      WriteLn(StdErr, Reports, ' reports, last: ', LastReport);
      Halt(1);
    end;
    Halt(0);
  end;
  RunDemo(root);
  RunFaults;
  RunManyEvents;
  RunBenchmark;
  CheckWords(RtlX87, RtlMxcsr, 'at the end');
  if Failures > 0 then begin
    WriteLn(Failures, ' checks failed');
    Halt(1);
  end;
  WriteLn('all checks held');
end.
