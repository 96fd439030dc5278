; Runs every 8051 opcode but the reserved 0xA5, with edge operands, for comparing the core with
; s51 instruction by instruction. Ends in an endless loop at `done`.
;
; Layout: vectors at 0, the main sequence from 0x0100, tables at 0x0700, a 2 KiB block at
; 0x0800 that reaches each of its eight pages with AJMP and ACALL (the opcode carries the page).

        .area CODE (ABS)

        .org 0x0000
        ljmp start
        .org 0x0003
        ljmp int0_handler
        .org 0x000B
        ljmp timer0_handler
        .org 0x0013
        ljmp int1_handler
        .org 0x001B
        ljmp timer1_handler

        .org 0x0100
start:
        mov 0x81,#0xB0          ; stack in the upper, indirect-only RAM
        ; Register banks: each bank's R0..R7 at its own place.
        mov 0xD0,#0x18
        mov r0,#0x80
        mov r1,#0x81
        mov r2,#0x82
        mov r3,#0x83
        mov r4,#0x84
        mov r5,#0x85
        mov r6,#0x86
        mov r7,#0x87
        mov 0xD0,#0x08
        mov r7,#0x17
        mov 0xD0,#0x10
        mov r7,#0x27
        mov 0xD0,#0x00

        ; ---- ALU over every pair of edge values, with carry clear and set ----
        mov 0x40,#0             ; pair index
pair_loop:
        mov a,0x40
        mov b,#9
        div ab                  ; A = first index, B = second
        mov 0x41,b
        mov dptr,#values
        movc a,@a+dptr
        mov r2,a                ; x
        mov a,0x41
        movc a,@a+dptr
        mov r3,a                ; y
        mov 0x30,a              ; y, direct
        mov r0,#0x30            ; @R0 -> y
        mov r1,#0xC8
        mov @r1,a               ; @R1 -> y, upper RAM
        mov 0x42,#2             ; carry clear, then set
carry_loop:
        mov c,0x00              ; bit 0x00 (0x20.0) holds this pass's carry
        mov a,r2
        add a,r3
        da a
        mov a,r2
        add a,0x30
        mov a,r2
        add a,@r0
        mov a,r2
        add a,@r1
        da a
        mov c,0x00
        mov a,r2
        addc a,r3
        da a
        mov c,0x00
        mov a,r2
        addc a,0x30
        mov c,0x00
        mov a,r2
        addc a,@r0
        mov c,0x00
        mov a,r2
        addc a,@r1
        mov c,0x00
        mov a,r2
        subb a,r3
        mov c,0x00
        mov a,r2
        subb a,0x30
        mov c,0x00
        mov a,r2
        subb a,@r0
        mov c,0x00
        mov a,r2
        subb a,@r1
        mov a,r2
        anl a,r3
        mov a,r2
        anl a,0x30
        mov a,r2
        anl a,@r1
        mov a,r2
        orl a,r3
        mov a,r2
        orl a,0x30
        mov a,r2
        orl a,@r0
        mov a,r2
        xrl a,r3
        mov a,r2
        xrl a,0x30
        mov a,r2
        xrl a,@r1
        mov a,r2
        mov b,r3
        mul ab
        mov a,r2
        mov b,r3
        div ab
        mov a,r2
        cjne a,0x30,cj1
cj1:    cjne r2,#0x80,cj2
cj2:    cjne @r1,#0x7F,cj3
cj3:    cjne a,#0x10,cj4
cj4:    mov c,0x00
        mov a,r2
        rlc a
        mov a,r2
        rrc a
        cpl 0x00
        djnz 0x42,carry_again
        inc 0x40
        mov a,0x40
        cjne a,#81,pair_again
        sjmp pairs_done
carry_again:
        ljmp carry_loop
pair_again:
        ljmp pair_loop
pairs_done:

        ; ---- immediate operands ----
        clr c
        mov a,#0x7F
        add a,#0x01             ; OV, AC
        addc a,#0xFF
        subb a,#0x80
        subb a,#0x01
        setb c
        addc a,#0x0F
        da a
        mov a,#0x9A
        add a,#0x99
        da a                    ; both nibbles, carry
        mov a,#0x0A
        clr c
        da a
        mov a,#0xA0
        da a
        anl a,#0x3C
        orl a,#0xC1
        xrl a,#0xFF
        setb 0xD6               ; AC by hand
        mov a,#0x00
        da a

        ; ---- increments, decrements, wraps ----
        mov a,#0xFF
        inc a
        dec a
        mov 0x31,#0xFF
        inc 0x31
        dec 0x31
        mov r4,#0xFF
        inc r4
        dec r4
        mov r0,#0x31
        inc @r0
        dec @r0
        mov r1,#0xF0
        mov @r1,#0x00
        dec @r1
        inc @r1
        mov 0xF0,#0x7F          ; B, an SFR, directly
        inc 0xF0
        dec 0xF0
        mov dptr,#0x00FF
        inc dptr
        mov dptr,#0xFFFF
        inc dptr

        ; ---- rotates, swaps, exchanges ----
        mov a,#0x81
        rl a
        rr a
        rr a
        setb c
        rlc a
        rrc a
        swap a
        cpl a
        clr a
        cpl a
        mov 0x32,#0x5A
        xch a,0x32
        mov r5,#0xC3
        xch a,r5
        mov r1,#0xD0
        mov @r1,#0x1E
        xch a,@r1
        xchd a,@r1
        mov r0,#0x32
        xchd a,@r0
        xch a,0xF0              ; with B

        ; ---- moves in every form ----
        mov 0x33,#0x44
        mov 0x34,0x33
        mov r0,#0x34
        mov 0x35,@r0
        mov r1,#0xE0
        mov @r1,0x35
        mov 0x36,@r1
        mov r6,0x36
        mov 0x37,r6
        mov a,r6
        mov a,0x37
        mov a,@r1
        mov r7,a
        mov @r0,a
        mov 0x38,a
        mov @r1,#0x99
        mov a,#0x33
        mov 0xF0,a
        mov 0x90,#0x5A          ; P1
        mov a,0x90

        ; ---- bits: internal RAM bit area and SFR bits ----
        mov 0x2F,#0x00
        setb 0x7F               ; 0x2F.7
        setb 0x78               ; 0x2F.0
        cpl 0x79
        clr 0x7F
        mov c,0x78
        mov 0x7A,c
        cpl c
        mov 0x7B,c
        setb 0xF7               ; B.7
        clr 0xF7
        cpl 0xF0                ; B.0
        setb 0xE7               ; ACC.7, parity changes
        clr 0xE0
        cpl 0xD5                ; PSW.F0
        orl 0xD0,#0x08          ; bank 1 (s51 misses a bank switched by SETB on PSW)
        mov a,r7
        anl 0xD0,#0xE7
        setb 0x97               ; P1.7
        clr 0x90
        cpl 0x91
        setb c
        anl c,0x78
        anl c,/0x78
        setb c
        anl c,/0x7F
        orl c,0x7F
        clr c
        orl c,/0x7F
        clr c
        orl c,0x78
        mov c,0xE7
        mov 0xF1,c              ; B.1
        ; conditional jumps on bits, taken and not
        jb 0x78,jb1
        nop
jb1:    jb 0x7F,jb2
        nop
jb2:    jnb 0x7F,jb3
        nop
jb3:    jnb 0x78,jb4
        nop
jb4:    jbc 0x78,jb5            ; taken, clears
        nop
jb5:    jbc 0x78,jb6            ; not taken
        nop
jb6:    setb 0xF2
        jbc 0xF2,jb7            ; SFR bit
        nop
jb7:    jb 0xF2,jb8
        setb c
jb8:    jc jb9
        nop
jb9:    jnc jb10
        clr c
jb10:   jc jb11
        jnc jb11
        nop
jb11:   clr a
        jz jb12
        nop
jb12:   jnz jb13
        inc a
        jnz jb13
        nop
jb13:   jz jb14
        nop
        ; ---- CJNE below, equal, above in every form ----
jb14:   mov a,#0x40
        cjne a,#0x40,cjn1
cjn1:   cjne a,#0x41,cjn2
cjn2:   cjne a,#0x3F,cjn3
cjn3:   mov 0x39,#0x40
        cjne a,0x39,cjn4
cjn4:   mov 0x39,#0xC0
        cjne a,0x39,cjn5
cjn5:   mov r2,#0x00
        cjne r2,#0x00,cjn6
cjn6:   cjne r2,#0x01,cjn7
cjn7:   mov r0,#0x39
        cjne @r0,#0xC0,cjn8
cjn8:   cjne @r0,#0xBF,cjn9
cjn9:   mov r1,#0x39
        cjne @r1,#0xC1,cjn10
        ; ---- DJNZ, wrapping below zero ----
cjn10:  mov r3,#0x00
        djnz r3,djn1            ; 0 -> 0xFF, taken
djn1:   mov r3,#0x01
        djnz r3,djn2            ; 1 -> 0, not taken
djn2:   mov 0x3A,#0x02
dloop:  djnz 0x3A,dloop
        mov r0,#3
dl0:    djnz r0,dl0
        mov r1,#2
dl1:    djnz r1,dl1
        mov r2,#2
dl2:    djnz r2,dl2
        mov r4,#2
dl4:    djnz r4,dl4
        mov r5,#2
dl5:    djnz r5,dl5
        mov r6,#2
dl6:    djnz r6,dl6
        mov r7,#2
dl7:    djnz r7,dl7

        ; ---- the remaining register forms: every R0..R7 in each ----
        mov r0,#0x10
        mov r1,#0x21
        mov r2,#0x32
        mov r3,#0x43
        mov r4,#0x54
        mov r5,#0x65
        mov r6,#0x76
        mov r7,#0x87
        .irp rn, r0,r1,r2,r3,r4,r5,r6,r7
        inc rn
        dec rn
        add a,rn
        addc a,rn
        orl a,rn
        anl a,rn
        xrl a,rn
        subb a,rn
        mov a,rn
        mov rn,a
        xch a,rn
        mov 0x3B,rn
        mov rn,0x3C
        mov rn,#0x5D
        cjne rn,#0x5D,.+3
        .endm
        .irp ri, @r0,@r1
        inc ri
        dec ri
        add a,ri
        addc a,ri
        orl a,ri
        anl a,ri
        xrl a,ri
        subb a,ri
        mov a,ri
        mov ri,a
        mov ri,#0x6E
        mov ri,0x3D
        mov 0x3E,ri
        xch a,ri
        xchd a,ri
        .endm
        ; read-modify-write on direct addresses (internal RAM and an SFR)
        mov a,#0x0F
        mov 0x3F,#0x3C
        orl 0x3F,a
        anl 0x3F,a
        xrl 0x3F,a
        orl 0x3F,#0xC0
        anl 0x3F,#0x81
        xrl 0x3F,#0xFF
        orl 0xF0,a
        anl 0xF0,#0x55
        xrl 0xF0,a
        add a,0xF0
        addc a,0xF0
        subb a,0xF0
        orl a,0xF0
        anl a,0xF0
        xrl a,0xF0
        ; stack: PUSH and POP of internal RAM and SFRs
        push 0x3F
        push 0xF0
        push 0xE0
        push 0xD0
        pop 0x3E
        pop 0x3D
        pop 0xF0
        pop 0x3C

        ; ---- MOVC, MOVX, jump tables ----
        mov a,#2
        movc a,@a+pc
        sjmp mc1
        .db 0x11, 0x22, 0x33, 0x44
mc1:    mov dptr,#values
        mov a,#8
        movc a,@a+dptr
        mov dptr,#0x2345
        movx @dptr,a
        clr a
        movx a,@dptr
        mov 0xA0,#0x23          ; P2: MOVX @Ri's high address byte on this core
        mov r0,#0x46
        mov r1,#0x47
        mov a,#0xAB
        movx @r0,a
        mov a,#0xCD
        movx @r1,a
        movx a,@r0
        movx a,@r1
        mov dptr,#jump_table
        mov a,#4
        jmp @a+dptr
        .org 0x0600
jump_table:
        sjmp jt0
        sjmp jt1
        sjmp jt2
jt0:    nop
jt1:    nop
jt2:    lcall subroutine
        acall subroutine
        ljmp far_block

subroutine:
        inc 0x3B
        ret

        .org 0x0700
values: .db 0x00, 0x01, 0x0F, 0x10, 0x7F, 0x80, 0x99, 0xFE, 0xFF

        ; ---- AJMP and ACALL into each page of a 2 KiB block ----
        .org 0x0800
far_block:
        acall page1
        ajmp page1_jump
page0_back:
        ljmp interrupts
        .org 0x0900
page1:  acall page2
        ret
page1_jump:
        ajmp page2_jump
        .org 0x0A00
page2:  acall page3
        ret
page2_jump:
        ajmp page3_jump
        .org 0x0B00
page3:  acall page4
        ret
page3_jump:
        ajmp page4_jump
        .org 0x0C00
page4:  acall page5
        ret
page4_jump:
        ajmp page5_jump
        .org 0x0D00
page5:  acall page6
        ret
page5_jump:
        ajmp page6_jump
        .org 0x0E00
page6:  acall page7
        ret
page6_jump:
        ajmp page7_jump
        .org 0x0F00
page7:  acall page0
        ret
page7_jump:
        ajmp page0_back
        .org 0x0880
page0:  ret

        ; ---- interrupts, priorities, timers ----
        .org 0x1000
interrupts:
        mov 0x3B,#0
        setb 0x01               ; INT1's handler raises INT0 once
        mov 0x88,#0x05          ; INT0 and INT1 edge-triggered
        mov 0xB8,#0x04          ; IP: INT1 high, the rest low
        mov 0xA8,#0x87          ; EA, EX0, ET0, EX1
        setb 0x89               ; IE0: INT0's handler runs
        nop
        nop
        ; timer 0, mode 1 (16 bits), overflowing into its handler
        mov 0x89,#0x01
        mov 0x8C,#0xFF
        mov 0x8A,#0xF0
        mov 0x3B,#0
        setb 0x8C               ; TR0
t0wait: mov a,0x3B
        jz t0wait
        clr 0x8C
        ; mode 0 (13 bits)
        clr 0xA9                ; ET0 off: poll TF0
        mov 0x89,#0x00
        mov 0x8C,#0xFF
        mov 0x8A,#0x10
        setb 0x8C
m0wait: jnb 0x8D,m0wait
        clr 0x8D
        mov a,0x8A
        mov a,0x8C
        clr 0x8C
        ; mode 2 (8 bits, reload)
        mov 0x89,#0x02
        mov 0x8C,#0xF8
        mov 0x8A,#0xFC
        setb 0x8C
m2wait: jnb 0x8D,m2wait
        mov a,0x8A
        clr 0x8D
m2more: jnb 0x8D,m2more
        mov a,0x8A
        clr 0x8C
        clr 0x8D
        ; mode 3: TL0 on TR0 and TF0, TH0 on TR1 and TF1; timer 1 in mode 1 alongside
        mov 0x89,#0x13
        mov 0x8A,#0xF0
        mov 0x8C,#0xE0
        mov 0x8B,#0x00
        mov 0x8D,#0x00
        setb 0x8C
        setb 0x8E
m3wait: jnb 0x8F,m3wait
        mov a,0x8A
        mov a,0x8C
        mov a,0x8B
        clr 0x8C
        clr 0x8E
        clr 0x8D
        clr 0x8F
        ; timer 1 in mode 1 with its interrupt, nested under INT1 (high priority)
        mov 0x89,#0x10
        mov 0x8D,#0xFF
        mov 0x8B,#0xF8
        setb 0xAB               ; ET1
        mov 0x3B,#0
        setb 0x8E
t1wait: mov a,0x3B
        jz t1wait
        clr 0x8E
        clr 0xAF                ; EA off: flags stay pending
        setb 0x89
        nop
        clr 0x89
done:   sjmp done

int0_handler:
        push 0xE0
        inc 0x3B
        setb 0x8B               ; IE1: high priority interrupts this handler
        nop
        nop
        pop 0xE0
        reti

int1_handler:
        push 0xD0
        orl 0xD0,#0x18          ; a bank of its own (s51 keeps P from a written PSW)
        inc r0
        jbc 0x01,int1_out       ; once only:
        setb 0x89               ; IE0: low priority, waits for this handler's end
        nop
int1_out:
        pop 0xD0
        reti

timer0_handler:
        mov 0x8C,#0xFF
        mov 0x8A,#0xF0
        inc 0x3B
        reti

timer1_handler:
        inc 0x3B
        setb 0x8B               ; INT1, high, nests inside
        nop
        reti
