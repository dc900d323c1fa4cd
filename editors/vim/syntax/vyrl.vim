" Highlighting for VYRL files, reading each line as the library does.

if exists('b:current_syntax')
  finish
endif

let s:cpo_save = &cpo
set cpo&vim

" The comment rule counts space, tab and form feed as white space, nothing else.
let s:sp = '[ \t\x0c]'
" A "#" with text on either side is text: a comment needs white space on both.
let s:hash = '\%([^ \t\x0c]\@1<=#\|#[^ \t\x0c]\@=\)'
" Values such as numbers and colours must fill a whole word, so 10.20.0.2 and
" 12:30 stay text.
let s:word_start = '\%(^\|[ \t\x0c,=:[{]\)\@1<='
let s:word_end = '\%([ \t\x0c,\]}]\|$\)\@='
let s:type_start = '\%([[:alnum:]_-]\)\@1<!'
let s:type_end = '\%([[:alnum:]_:-]\)\@!'

" The backtracking engine (\%#=1): with this many look-behinds the other one
" is several times slower on a long file.
function! s:Syn(kind, group, pattern, ...) abort
  execute 'syntax' a:kind a:group '/\%#=1' . escape(a:pattern, '/') . '/' join(a:000)
endfunction

function! s:Region(group, start, end, ...) abort
  execute 'syntax region' a:group join(a:000) 'start=/' . escape(a:start, '/') . '/'
        \ 'end=/' . escape(a:end, '/') . '/'
endfunction

" Lines that are neither empty, a comment, a directive nor key = value are
" refused when read.
call s:Syn('match', 'vyrlBadLine', '\%([^ \t\x0c''"#]\|' . s:hash . '\|''[^'']*''\=\|"[^"]*"\=\)\+')

" --- Values.
call s:Syn('match', 'vyrlText', '\%([^ \t\x0c''"[\]{},#]\|' . s:hash . '\)\+', 'contained')
call s:Syn('match', 'vyrlNumber', '\c' . s:word_start
      \ . '[+-]\=\%(\%(\d\+\%(\.\d*\)\=\|\.\d\+\)\%(e[+-]\=\d\+\)\=\|inf\%(inity\)\=\|nan\)' . s:word_end,
      \ 'contained')
call s:Syn('match', 'vyrlBoolean', '\c' . s:word_start . '\%(true\|false\)' . s:word_end, 'contained')
call s:Syn('match', 'vyrlColor', s:word_start . '#\%(\x\{8}\|\x\{6}\)' . s:word_end, 'contained')
call s:Syn('match', 'vyrlDate', s:word_start
      \ . '\d\{4}-\d\{2}-\d\{2}\%(T[0-9:.]\+\%(Z\|[+-]\d\{2}:\d\{2}\)\=\)\=' . s:word_end, 'contained')
call s:Syn('match', 'vyrlDuration', s:word_start
      \ . 'P\%([0-9T]\)\@=\%(\d\+\%(\.\d\+\)\=[YMWD]\)*\%(T\%(\d\+\%(\.\d\+\)\=[HMS]\)\+\)\=' . s:word_end,
      \ 'contained')
syntax cluster vyrlScalar contains=vyrlText,vyrlNumber,vyrlBoolean,vyrlColor,vyrlDate,vyrlDuration

" Quotes have no escapes; one left open runs to the end of the line and hides
" any "#" after it.
call s:Syn('match', 'vyrlString', '"[^"]*"\=', 'contained')
call s:Syn('match', 'vyrlString', '''[^'']*''\=', 'contained')

" Inside [...] and {...} a quote still hides a "#", but a comma splits items
" all the same; only brackets and braces hold one together.
for [s:q, s:name] in [['"', 'Double'], ['''', 'Single']]
  let s:other = '[^[\]{}' . s:q . ']'
  call s:Syn('match', 'vyrlQuotedBrackets' . s:name,
        \ '[[{]\%(' . s:other . '\|[[{]' . s:other . '*[\]}]\)*[\]}]', 'contained transparent contains=NONE')
  call s:Region('vyrlItemString', s:q, s:q . '\|$', 'contained',
        \ 'contains=vyrlQuotedBrackets' . s:name . ',vyrlComma')
  call s:Region('vyrlFieldString', s:q, s:q . '\|$', 'contained',
        \ 'contains=vyrlQuotedBrackets' . s:name . ',vyrlObjectKey,vyrlComma')
endfor

syntax match vyrlComma /,/ contained
syntax region vyrlList matchgroup=vyrlDelimiter start=/\[/ end=/\]\|$/ contained
      \ contains=vyrlComment,vyrlItemString,vyrlObject,vyrlList,vyrlComma,@vyrlScalar
syntax region vyrlObject matchgroup=vyrlDelimiter start=/{/ end=/}\|$/ contained
      \ contains=vyrlComment,vyrlObjectKey,vyrlFieldString,vyrlObject,vyrlList,vyrlComma,@vyrlScalar
" A field's key ends at its first = or :, so { at: 12:30 } keeps 12:30 whole.
call s:Syn('match', 'vyrlObjectKey', '[{,]\@1<=\%(' . s:sp . '*\)\@>\zs'
      \ . '\%([^=:,''"[\]{}#]\|' . s:hash . '\)\{-1,}\ze' . s:sp . '*[=:]',
      \ 'contained nextgroup=vyrlOperator skipwhite')
syntax match vyrlOperator /[=:]/ contained

syntax cluster vyrlValueItems
      \ contains=vyrlComment,vyrlString,vyrlObject,vyrlList,vyrlComma,@vyrlScalar

call s:Syn('match', 'vyrlComment', '\%(^\|[ \t\x0c]\@1<=\)#\%([ \t\x0c]\|$\)\@=.*', 'contains=@Spell')

" --- Assignments: the key runs to the first = outside brackets and braces.
let s:indent = '^\%(' . s:sp . '*\)\@>'
let s:key_piece = '\%([^=#''"[\]{}]\|' . s:hash . '\|\[[^\]]*\]\|{[^}]*}\|''[^''=]*''\|"[^"=]*"\)'
" A quote opened in the key and still open at the = goes on into the value,
" so no comment starts until it closes.
for [s:q, s:name] in [['"', 'Double'], ['''', 'Single']]
  let s:open_key = s:key_piece . '\{-}' . s:q . '[^' . s:q . '=]\{-}'
  call s:Syn('match', 'vyrlKey', s:indent . '\zs' . s:open_key . '\ze' . s:sp . '*=',
        \ 'nextgroup=vyrlOpen' . s:name)
  execute 'syntax region vyrlOpen' . s:name 'contained keepend nextgroup=vyrlValueRest'
        \ 'matchgroup=vyrlOperator start=/' . s:sp . '*=/ matchgroup=NONE end=/' . s:q . '\|$/'
endfor
call s:Syn('match', 'vyrlKey', s:indent . '\zs' . s:key_piece . '\{-1,}\ze' . s:sp . '*=',
      \ 'nextgroup=vyrlValue')
call s:Region('vyrlValue', s:sp . '*=', '$', 'matchgroup=vyrlOperator contained keepend',
      \ 'contains=@vyrlValueItems')
syntax region vyrlValueRest start=/\%(\)/ end=/$/ contained keepend contains=@vyrlValueItems

" --- Types, in @type and @schema.
call s:Syn('match', 'vyrlTypeName', '\%([^ \t\x0c,<>{}#]\|' . s:hash . '\)\+', 'contained')
" Only the built-in families have a "::"; anything else with one is unknown.
call s:Syn('match', 'vyrlBadType', '\%([^ \t\x0c,<>{}#]\|' . s:hash . '\)*::\%([^ \t\x0c,<>{}#]\|'
      \ . s:hash . '\)*', 'contained')
call s:Syn('match', 'vyrlPrimitive', s:type_start . '\%(i32\|f64\|string\|bool\|color\)' . s:type_end,
      \ 'contained')
call s:Syn('match', 'vyrlTimeType', s:type_start
      \ . 'time::\%(datetime\|duration\|year\|day\|hour\|minute\)' . s:type_end, 'contained')
call s:Syn('match', 'vyrlMathType', s:type_start
      \ . 'math::\%(vector[234]\|quaternion\|matrix3x3\|matrix4x4\)' . s:type_end, 'contained')
" Unit names ignore letter case and any - or _ between their words, but the
" family's name does not: \l keeps "physics::" lower case under \c.
let s:units = [
      \ 'joule per kilogram kelvin', 'kilogram meter per second',
      \ 'radian per second squared', 'candela per square meter',
      \ 'coulomb per square meter', 'cubic meter per kilogram',
      \ 'kilogram per cubic meter', 'meter per second squared',
      \ 'newton per meter squared', 'ampere per square meter',
      \ 'coulomb per cubic meter', 'square meter per second',
      \ 'cubic meter per second', 'joule per square meter', 'meter per cubic second',
      \ 'newton per cubic meter', 'joule per mole kelvin', 'watt per meter kelvin',
      \ 'watt per square meter', 'mole per cubic meter', 'kilogram square meter',
      \ 'millimeter of mercury', 'british thermal unit', 'kilogram per second',
      \ 'joule per kilogram', 'newton per coulomb', 'tesla square meter',
      \ 'watt per steradian', 'kilogram per mole', 'radian per second',
      \ 'ampere per meter', 'atomic mass unit', 'joule per kelvin',
      \ 'metabolic equivalent', 'meter per second', 'newton per meter',
      \ 'farad per meter', 'henry per meter', 'kelvin per watt', 'volt per kelvin',
      \ 'weber per meter', 'joule per mole', 'volt per meter', 'astronomical unit',
      \ 'hubble constant', 'electron volt', 'inverse meter', 'nautical mile',
      \ 'newton second', 'pascal second', 'joule second', 'lumen second',
      \ 'newton meter', 'square meter', 'cubic meter', 'mach number', 'arc degree',
      \ 'arc minute', 'arc second', 'light year', 'dimensionless', 'ohm meter',
      \ 'atmosphere', 'fahrenheit', 'horsepower', 'percentage', 'rutherford',
      \ 'becquerel', 'steradian', 'angstrom', 'franklin', 'kilogram', 'roentgen',
      \ 'sverdrup', 'calorie', 'candela', 'celsius', 'coulomb', 'decibel', 'dioptre',
      \ 'gilbert', 'lambert', 'langley', 'maxwell', 'oersted', 'rankine', 'siemens',
      \ 'sievert', 'ampere', 'dalton', 'erlang', 'jansky', 'kayser', 'kelvin',
      \ 'newton', 'parsec', 'pascal', 'radian', 'second', 'stokes', 'curie', 'debye',
      \ 'farad', 'fermi', 'gauss', 'henry', 'hertz', 'joule', 'katal', 'knots',
      \ 'lumen', 'meter', 'poise', 'stilb', 'tesla', 'weber', 'barn', 'baud', 'byte',
      \ 'gray', 'mole', 'phot', 'rayl', 'torr', 'volt', 'watt', 'bar', 'bit', 'gal',
      \ 'lux', 'ohm'
      \ ]
call s:Syn('match', 'vyrlUnit', '\c' . s:type_start . '\%(\l\{7}::\)\@=physics::[-_]*\%('
      \ . join(map(s:units, 'join(split(v:val), ''[-_]*'')'), '\|') . '\)[-_]*' . s:type_end, 'contained')
syntax region vyrlTypeList matchgroup=vyrlListType start=/\<list</ end=/>\|\%([ \t\x0c,}]\)\@=\|$/
      \ contained contains=@vyrlType
syntax cluster vyrlType
      \ contains=vyrlTypeName,vyrlBadType,vyrlPrimitive,vyrlTimeType,vyrlMathType,vyrlUnit,vyrlTypeList

" --- Directives. A directive that leaves a { open takes the following lines
" until its braces balance, quoted or not.
syntax region vyrlBlock matchgroup=vyrlDelimiter start=/{/ end=/}/ contained transparent
      \ contains=vyrlComment,vyrlBlock
" The name ends at the first white space, so @schema{ is not @schema.
syntax region vyrlUnknownDirective matchgroup=vyrlBadDirective start=/^[ \t\x0c]*\zs@[^ \t\x0c{]*/ end=/$/
      \ contains=vyrlComment,vyrlBlock

function! s:Directive(group, name, contains) abort
  call s:Region(a:group, '^' . s:sp . '*\zs@' . a:name . '\%(' . s:sp . '\|$\)\@=', '$',
        \ 'matchgroup=vyrlDirective', 'contains=vyrlComment,vyrlBlock,' . a:contains)
endfunction

call s:Directive('vyrlImport', 'import', 'vyrlString,vyrlPath')
call s:Syn('match', 'vyrlPath', '\%([^ \t\x0c''"#{]\|' . s:hash . '\)\+', 'contained')

" An unquoted path runs to the first ::, and every name after it selects a schema.
call s:Directive('vyrlDerive', 'derive', 'vyrlSchemaName,vyrlString,vyrlDerivePath,vyrlSelector')
call s:Syn('match', 'vyrlSchemaName', '\%([^ \t\x0c:#{}''"]\|' . s:hash . '\)\+', 'contained')
call s:Syn('match', 'vyrlDerivePath', '\%(@derive' . s:sp . '*\)\@<='
      \ . '\%([^ \t\x0c:#''"{]\|:\%(:\)\@!\|' . s:hash . '\)'
      \ . '\%([^:#''"{]\|:\%(:\)\@!\|' . s:hash . '\)\{-}'
      \ . '\ze' . s:sp . '*\%(::\|$\|#' . s:sp . '\|#$\)', 'contained')
syntax match vyrlSelector /::\=/ contained

call s:Directive('vyrlTypeDirective', 'type', 'vyrlAliasName,@vyrlType')
call s:Syn('match', 'vyrlAliasName', '\%(@type' . s:sp . '*\)\@<=\%([^ \t\x0c=#{]\|' . s:hash . '\)'
      \ . '\%([^=#{]\|' . s:hash . '\)\{-}\ze' . s:sp . '*=', 'contained nextgroup=vyrlOperator skipwhite')

call s:Directive('vyrlSchema', 'schema', 'vyrlSchemaName,vyrlSchemaBlock')
syntax region vyrlSchemaBlock matchgroup=vyrlDelimiter start=/{/ end=/}/ contained
      \ contains=vyrlComment,vyrlBlock,vyrlField,vyrlComma,@vyrlType
" The : touches the field's name, and trailing stars mark the field optional.
call s:Syn('match', 'vyrlField', '\%(^\|[ \t\x0c,{]\)\@1<=\%([^ \t\x0c,:{}#]\|' . s:hash . '\)\{-1,}'
      \ . '\ze\**:\%(:\)\@!', 'contained nextgroup=vyrlOptional,vyrlFieldColon')
syntax match vyrlOptional /\*\+/ contained nextgroup=vyrlFieldColon
syntax match vyrlFieldColon /:/ contained

" A block can hold any line, so only a scan from the top knows where one ends.
syntax sync fromstart

hi def link vyrlComment Comment
hi def link vyrlKey Identifier
hi def link vyrlObjectKey Identifier
hi def link vyrlOperator Operator
hi def link vyrlString String
hi def link vyrlItemString String
hi def link vyrlFieldString String
hi def link vyrlOpenDouble String
hi def link vyrlOpenSingle String
hi def link vyrlNumber Number
hi def link vyrlBoolean Boolean
hi def link vyrlColor Constant
hi def link vyrlDate Constant
hi def link vyrlDuration Constant
hi def link vyrlDelimiter Delimiter
hi def link vyrlComma Delimiter
hi def link vyrlSelector Delimiter
hi def link vyrlFieldColon Delimiter
hi def link vyrlDirective PreProc
hi def link vyrlPath String
hi def link vyrlDerivePath String
hi def link vyrlSchemaName Structure
hi def link vyrlAliasName Typedef
hi def link vyrlTypeName Type
hi def link vyrlPrimitive Type
hi def link vyrlTimeType Type
hi def link vyrlMathType Type
hi def link vyrlUnit Type
hi def link vyrlListType Type
hi def link vyrlField Identifier
hi def link vyrlOptional Operator
hi def link vyrlBadLine Error
hi def link vyrlBadType Error
hi def link vyrlBadDirective Error

let b:current_syntax = 'vyrl'

let &cpo = s:cpo_save
unlet s:cpo_save
